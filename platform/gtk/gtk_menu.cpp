// The menu bar: the window's menus as GTK menus, commands queued as WM_COMMAND, and the
// marks the program sets shown on check items.
#include "platform/gtk/gtk_menu.h"

#include "platform/common/backend.h"
#include "platform/common/window_core.h"

namespace platform::gtk {
namespace {

// Where an item's widget finds its item again; its menu may be gone before the widget is.
struct ItemPlace {
    HMENU menu;
    std::size_t position;
};

// Set while the backend itself changes a check item's state: GTK changes it by activating
// the item, which must then send no command.
bool settingMark = false;

void setMark(GtkWidget* widget, const MenuItem& item) {
    settingMark = true;
    gtk_check_menu_item_set_draw_as_radio(GTK_CHECK_MENU_ITEM(widget), item.radioGroup);
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), (item.state & MF_CHECKED) != 0);
    settingMark = false;
}

void itemActivated(GtkMenuItem* widget, gpointer data) {
    if (settingMark) return;
    const auto* place = static_cast<const ItemPlace*>(data);
    Menu* menu = findMenuByHandle(place->menu);
    if (!menu) return;
    const MenuItem& item = menu->items[place->position];
    // GTK has toggled a check item before this handler runs: put back the program's mark.
    if (GTK_IS_CHECK_MENU_ITEM(widget)) setMark(GTK_WIDGET(widget), item);
    if (findWindow(menu->window))
        postMessage(menu->window, WM_COMMAND, MAKEWPARAM(item.id, 0), 0);
}

void freePlace(gpointer data, GClosure*) { delete static_cast<ItemPlace*>(data); }

// The widget of a command item: a check item once it carries a mark.
GtkWidget* makeCommandItem(Menu& menu, std::size_t position) {
    MenuItem& item = menu.items[position];
    const std::string label = mnemonicText(item.text.c_str());
    GtkWidget* widget = item.marked ? gtk_check_menu_item_new_with_mnemonic(label.c_str())
                                    : gtk_menu_item_new_with_mnemonic(label.c_str());
    if (item.marked) setMark(widget, item);
    g_signal_connect_data(widget, "activate", G_CALLBACK(itemActivated),
                          new ItemPlace{menu.handle, position}, freePlace, GConnectFlags(0));
    item.native = widget;
    return widget;
}

void fillShell(GtkWidget* shell, HMENU handle, bool isBar) {
    Menu* menu = findMenuByHandle(handle);
    if (!menu) return;
    for (std::size_t i = 0; i < menu->items.size(); ++i) {
        MenuItem& item = menu->items[i];
        GtkWidget* widget = nullptr;
        switch (item.kind) {
            case MenuItemKind::PopupBegin: {
                widget = gtk_menu_item_new_with_mnemonic(mnemonicText(item.text.c_str()).c_str());
                GtkWidget* popup = gtk_menu_new();
                fillShell(popup, item.submenu, false);
                gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), popup);
                break;
            }
            case MenuItemKind::Item:
                widget = makeCommandItem(*menu, i);
                break;
            case MenuItemKind::Separator:
                if (!isBar) widget = gtk_separator_menu_item_new();
                break;
            case MenuItemKind::PopupEnd:
                break;
        }
        if (!widget) continue;
        if (item.kind != MenuItemKind::Item) item.native = widget;
        gtk_menu_shell_append(GTK_MENU_SHELL(shell), widget);
    }
}

}  // namespace

std::string mnemonicText(const char* text) {
    // "&&" is a literal ampersand, and a literal underscore must be doubled.
    std::string out;
    for (const char* at = text ? text : ""; *at; ++at) {
        if (*at == '&') {
            if (at[1] == '&') {
                out += '&';
                ++at;
            } else {
                out += '_';
            }
        } else if (*at == '_') {
            out += "__";
        } else {
            out += *at;
        }
    }
    return out;
}

GtkWidget* buildMenuBar(HMENU bar) {
    if (!findMenuByHandle(bar)) return nullptr;
    GtkWidget* widget = gtk_menu_bar_new();
    fillShell(widget, bar, true);
    gtk_widget_show_all(widget);
    return widget;
}

}  // namespace platform::gtk

namespace platform::backend {

void menuItemMarked(Menu& menu, std::size_t position) {
    MenuItem& item = menu.items[position];
    auto* widget = static_cast<GtkWidget*>(item.native);
    if (!widget || item.kind != MenuItemKind::Item) return;  // marks show on commands only
    if (GTK_IS_CHECK_MENU_ITEM(widget)) {
        gtk::setMark(widget, item);
        return;
    }
    // The first mark: a check item takes the plain item's place.
    GtkWidget* shell = gtk_widget_get_parent(widget);
    if (!shell) return;
    GList* children = gtk_container_get_children(GTK_CONTAINER(shell));
    const int index = g_list_index(children, widget);
    g_list_free(children);
    const bool sensitive = gtk_widget_get_sensitive(widget);
    gtk_widget_destroy(widget);
    GtkWidget* check = gtk::makeCommandItem(menu, position);
    gtk_widget_set_sensitive(check, sensitive);
    gtk_menu_shell_insert(GTK_MENU_SHELL(shell), check, index);
    gtk_widget_show(check);
}

}  // namespace platform::backend
