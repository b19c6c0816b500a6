// module_resources.h - the program's resources (menus, dialog templates, icons) as plain
// tables, for the platforms whose executables carry no resource section.
//
// On Windows the resource compiler puts the same descriptions into the executable and this
// header is not used. Elsewhere the program hands its tables to the platform once, before it
// creates any window; LoadIconA, the class menu and CreateDialogParamA look them up by id.
//
// Threads: setModuleResources is called once on the main thread before anything else.
// Ownership: the tables are static data of the program; the platform only borrows them.
#pragma once

#ifndef _WIN32

#include <cstddef>

namespace platform {

enum class MenuItemKind { PopupBegin, Item, Separator, PopupEnd };

struct MenuItemDesc {
    MenuItemKind kind;
    const char* text;  // with '&' before the mnemonic letter; null for separators and ends
    int id;            // command id of an Item, 0 otherwise
};

struct MenuDesc {
    int id;
    const MenuItemDesc* items;
    std::size_t count;
};

enum class DialogControlKind { LeftText, DefPushButton, PushButton };

struct DialogControlDesc {
    DialogControlKind kind;
    const char* text;
    int id;  // -1 for none
    int x, y, width, height;  // dialog units
};

struct DialogDesc {
    int id;
    int x, y, width, height;  // dialog units, in the parent's client area
    const char* caption;
    const char* fontName;
    int fontPoints;
    const DialogControlDesc* controls;
    std::size_t count;
};

struct IconDesc {
    int id;
    const unsigned char* icoBytes;  // the whole .ico file
    std::size_t size;
};

struct ModuleResources {
    const MenuDesc* menus;
    std::size_t menuCount;
    const DialogDesc* dialogs;
    std::size_t dialogCount;
    const IconDesc* icons;
    std::size_t iconCount;
};

void setModuleResources(const ModuleResources* resources);
const ModuleResources* moduleResources();
const MenuDesc* findMenu(int id);
const DialogDesc* findDialog(int id);
const IconDesc* findIcon(int id);

}  // namespace platform

#endif
