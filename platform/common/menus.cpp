// Menus made from the module's tables, and the calls that read and set their items' marks,
// with the lookups and return values of Windows.
#ifndef _WIN32

#include "platform/common/menus.h"

#include <map>
#include <memory>

#include "platform/common/backend.h"
#include "platform/common/window_core.h"

namespace platform {
namespace {

struct Menus {
    std::map<uintptr_t, std::unique_ptr<Menu>> live;
    // A range of its own, so that a menu handle is never also a window's.
    uintptr_t nextHandle = 0x40000000;
};

Menus& menus() {
    static auto* instance = new Menus;
    return *instance;
}

uintptr_t key(HMENU handle) { return reinterpret_cast<uintptr_t>(handle); }

Menu& newMenu(HWND window) {
    auto menu = std::make_unique<Menu>();
    menu->handle = reinterpret_cast<HMENU>(menus().nextHandle++);
    menu->window = window;
    Menu& made = *menu;
    menus().live[key(made.handle)] = std::move(menu);
    return made;
}

struct Found {
    Menu* menu = nullptr;
    std::size_t position = 0;
};

// The item as Windows finds it: by position in this menu, or by command id in this menu and
// its popups, depth first in order (a separator's id is 0, a popup entry has none).
Found findItem(HMENU handle, UINT item, UINT flags) {
    Menu* menu = findMenuByHandle(handle);
    if (!menu) return {};
    if (flags & MF_BYPOSITION)
        return item < menu->items.size() ? Found{menu, item} : Found{};
    for (std::size_t i = 0; i < menu->items.size(); ++i) {
        const MenuItem& entry = menu->items[i];
        if (entry.kind == MenuItemKind::PopupBegin) {
            Found inside = findItem(entry.submenu, item, flags);
            if (inside.menu) return inside;
        } else if (static_cast<UINT>(entry.id) == item) {
            return Found{menu, i};
        }
    }
    return {};
}

// Sets an item's mark and lets the backend show it.
void mark(Found found, bool checked, bool radio) {
    MenuItem& item = found.menu->items[found.position];
    item.state = checked ? MF_CHECKED : MF_UNCHECKED;
    item.marked = true;
    if (radio) {
        item.radioGroup = true;
        if (checked) item.type |= MFT_RADIOCHECK;
    }
    backend::menuItemMarked(*found.menu, found.position);
}

}  // namespace

HMENU createMenuBar(const MenuDesc& table, HWND window) {
    if (table.count == 0) return nullptr;
    Menu& bar = newMenu(window);
    std::vector<HMENU> open{bar.handle};  // the bar, then each popup being filled
    for (std::size_t i = 0; i < table.count; ++i) {
        const MenuItemDesc& desc = table.items[i];
        if (desc.kind == MenuItemKind::PopupEnd) {
            if (open.size() > 1) open.pop_back();
            continue;
        }
        MenuItem item;
        item.kind = desc.kind;
        item.text = desc.text ? desc.text : "";
        item.id = desc.kind == MenuItemKind::Item ? desc.id : 0;
        if (desc.kind == MenuItemKind::PopupBegin) item.submenu = newMenu(window).handle;
        // The map's entries stay put while menus are added, so the lookup is safe here.
        findMenuByHandle(open.back())->items.push_back(item);
        if (item.submenu) open.push_back(item.submenu);
    }
    return bar.handle;
}

void destroyMenu(HMENU handle) {
    Menu* menu = findMenuByHandle(handle);
    if (!menu) return;
    for (const MenuItem& item : menu->items)
        if (item.submenu) destroyMenu(item.submenu);
    menus().live.erase(key(handle));
}

Menu* findMenuByHandle(HMENU handle) {
    auto found = menus().live.find(key(handle));
    return found == menus().live.end() ? nullptr : found->second.get();
}

void resetMenus() { menus().live.clear(); }

}  // namespace platform

using platform::Found;
using platform::findItem;

HMENU GetMenu(HWND window) {
    const platform::Window* found = platform::findWindow(window);
    return found ? found->menuBar : nullptr;
}

HMENU GetSubMenu(HMENU menu, int position) {
    Found found = findItem(menu, static_cast<UINT>(position), MF_BYPOSITION);
    return position >= 0 && found.menu ? found.menu->items[found.position].submenu : nullptr;
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) {
    Found found = findItem(menu, item, flags);
    if (!found.menu) return static_cast<DWORD>(-1);
    const DWORD previous = found.menu->items[found.position].state & MF_CHECKED;
    platform::mark(found, (flags & MF_CHECKED) != 0, false);
    return previous;
}

BOOL CheckMenuRadioItem(HMENU menu, UINT first, UINT last, UINT check, UINT flags) {
    // Every item of the range is looked up on its own, as on Windows: by command the group
    // may even span popups.
    bool checked = false;
    for (UINT item = first; item <= last; ++item) {
        Found found = findItem(menu, item, flags);
        if (found.menu) {
            platform::mark(found, item == check, true);
            checked = checked || item == check;
        }
        if (item == last) break;  // last may be the largest UINT
    }
    return checked ? TRUE : FALSE;
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
    Found found = findItem(menu, item, flags);
    if (!found.menu) return static_cast<UINT>(-1);
    const platform::MenuItem& entry = found.menu->items[found.position];
    if (entry.kind == platform::MenuItemKind::PopupBegin) {
        const platform::Menu* popup = platform::findMenuByHandle(entry.submenu);
        const UINT count = popup ? static_cast<UINT>(popup->items.size()) : 0;
        return count << 8 | ((entry.state | entry.type | MF_POPUP) & 0xFF);
    }
    const UINT separator = entry.kind == platform::MenuItemKind::Separator ? MF_SEPARATOR : 0;
    return entry.state | entry.type | separator;
}

#endif  // _WIN32
