// gtk_menu.h - a top-level window's menu bar as GTK widgets, made from the window's menus
// (platform/common/menus.h): popups nested as in the table, each command item sending
// WM_COMMAND with its id when activated, each item's mark shown as the program sets it.
//
// An item is a plain GtkMenuItem until the program first sets its mark; it is then replaced,
// in place, by a GtkCheckMenuItem (drawn as a radio item once CheckMenuRadioItem has set it),
// so that menus the program never marks look exactly as before. Activating a check item does
// not change its mark: as on Windows the program decides, through CheckMenuItem and
// CheckMenuRadioItem, after it has had the WM_COMMAND.
//
// Threads: main thread only. Ownership: the bar belongs to the container the caller puts it
// in; each item's widget is kept in its MenuItem::native until the window's native side is
// destroyed, just before its menus.
#pragma once

// win_api.h first: its TRUE and FALSE are the ones GLib then keeps.
#include "platform/common/menus.h"

#include <string>

#include <gtk/gtk.h>

namespace platform::gtk {

// The shown bar of the menu bar `bar`; null for an unknown handle.
GtkWidget* buildMenuBar(HMENU bar);

// '&' marks the mnemonic on Windows, '_' in GTK: the label text for a table's text.
std::string mnemonicText(const char* text);

}  // namespace platform::gtk
