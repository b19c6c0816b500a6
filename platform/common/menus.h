// menus.h - the menus of the windows on platforms without Win32: the menu bar a window is
// made with, built from the module's menu table into a menu per level (the bar, each popup),
// each with its own HMENU, and each item's mark. GetMenu, GetSubMenu, CheckMenuItem,
// CheckMenuRadioItem and GetMenuState read and change these; a backend draws them and is told
// when a mark changes.
//
// Which items may carry a mark: any command item, as on Windows, where the program decides
// at run time. The menu table therefore needs no kind of its own for such items and the .def
// files stay what both the resource compiler and the C++ tables read: a MENU_ITEM there is a
// plain MENUITEM on Windows and may still be checked. A backend shows an item as an ordinary
// one until the program first sets its mark (marked), then with its indicator, drawn as a
// radio item once CheckMenuRadioItem has set it (radioGroup).
//
// Threads: main thread only. Ownership: the window system owns every menu; the window's
// menu is destroyed with the window, after its native side, so a handle of a destroyed
// menu is simply unknown afterwards. A backend may keep its own object in MenuItem::native
// for as long as the window lives.
#pragma once

#ifndef _WIN32

#include <cstddef>
#include <string>
#include <vector>

#include "platform/module_resources.h"
#include "platform/win_api.h"

namespace platform {

struct MenuItem {
    MenuItemKind kind = MenuItemKind::Item;  // Item, Separator, or PopupBegin: opens submenu
    std::string text;        // as in the table, with '&' before the mnemonic letter
    int id = 0;              // command id of an Item
    HMENU submenu = nullptr; // the popup's menu
    UINT state = 0;          // MF_CHECKED or not
    UINT type = 0;           // MFT_RADIOCHECK once CheckMenuRadioItem checked it, as on Windows
    bool marked = false;     // the program has set its mark at least once
    bool radioGroup = false; // CheckMenuRadioItem has set it: one choice of a group
    void* native = nullptr;  // the backend's own object
};

struct Menu {
    HMENU handle = nullptr;
    HWND window = nullptr;   // the window whose menu bar holds it
    std::vector<MenuItem> items;
};

// Builds a menu bar and its popups (nested to any depth) from a table for window; the bar's
// handle, null for an empty table. Unbalanced popup ends are ignored.
HMENU createMenuBar(const MenuDesc& table, HWND window);
// Destroys a menu and its popups.
void destroyMenu(HMENU menu);
// A live menu; null for an unknown or destroyed handle.
Menu* findMenuByHandle(HMENU menu);
// Forgets every menu (tests only: with resetWindowCore).
void resetMenus();

}  // namespace platform

#endif
