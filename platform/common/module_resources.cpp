// The registry of the program's resource tables (menus, dialog templates, icons).
#ifndef _WIN32

#include "platform/module_resources.h"

namespace platform {
namespace {
const ModuleResources* registered = nullptr;
}

void setModuleResources(const ModuleResources* resources) { registered = resources; }
const ModuleResources* moduleResources() { return registered; }

const MenuDesc* findMenu(int id) {
    if (!registered) return nullptr;
    for (std::size_t i = 0; i < registered->menuCount; ++i)
        if (registered->menus[i].id == id) return &registered->menus[i];
    return nullptr;
}

const DialogDesc* findDialog(int id) {
    if (!registered) return nullptr;
    for (std::size_t i = 0; i < registered->dialogCount; ++i)
        if (registered->dialogs[i].id == id) return &registered->dialogs[i];
    return nullptr;
}

const IconDesc* findIcon(int id) {
    if (!registered) return nullptr;
    for (std::size_t i = 0; i < registered->iconCount; ++i)
        if (registered->icons[i].id == id) return &registered->icons[i];
    return nullptr;
}

}  // namespace platform

#endif
