// The program's resources as tables for platforms without a resource section: the same
// menu and About panel descriptions that the Windows resource script compiles, and the icon
// files embedded at build time.
#include "app/module_resources_table.h"

#include "app/resource_ids.h"
#include "app/embedded_icons.h"

namespace {

using platform::DialogControlDesc;
using platform::DialogControlKind;
using platform::MenuItemDesc;
using platform::MenuItemKind;

#define MENU_POPUP(text) {MenuItemKind::PopupBegin, text, 0},
#define MENU_ITEM(text, id) {MenuItemKind::Item, text, id},
#define MENU_SEPARATOR {MenuItemKind::Separator, nullptr, 0},
#define MENU_POPUP_END {MenuItemKind::PopupEnd, nullptr, 0},
const MenuItemDesc mainMenuItems[] = {
#include "app/main_menu.def"
};

#define DIALOG_LTEXT(text, id, x, y, w, h) {DialogControlKind::LeftText, text, id, x, y, w, h},
#define DIALOG_DEFPUSHBUTTON(text, id, x, y, w, h) \
    {DialogControlKind::DefPushButton, text, id, x, y, w, h},
const DialogControlDesc aboutControls[] = {
#include "app/about_dialog.def"
};

const platform::MenuDesc menus[] = {
    {IDR_MAINMENU, mainMenuItems, sizeof mainMenuItems / sizeof mainMenuItems[0]},
};

const platform::DialogDesc dialogs[] = {
    {IDD_ABOUT, ABOUT_X, ABOUT_Y, ABOUT_WIDTH, ABOUT_HEIGHT, ABOUT_CAPTION, ABOUT_FONT_NAME,
     ABOUT_FONT_POINTS, aboutControls, sizeof aboutControls / sizeof aboutControls[0]},
};

const platform::IconDesc icons[] = {
    {IDI_APP, embeddedIconApp, embeddedIconAppSize},
    {IDI_APP_SMALL, embeddedIconAppSmall, embeddedIconAppSmallSize},
};

const platform::ModuleResources resources = {
    menus, sizeof menus / sizeof menus[0],
    dialogs, sizeof dialogs / sizeof dialogs[0],
    icons, sizeof icons / sizeof icons[0],
};

}  // namespace

const platform::ModuleResources& tabladexResources() { return resources; }
