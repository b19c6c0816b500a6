// Pointer buttons and keys through the XTest extension of the test's X server.
#include "x_input.h"

#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>

namespace gtktest {
namespace {

Display* display() { return gdk_x11_display_get_xdisplay(gdk_display_get_default()); }

}  // namespace

void setLeftButton(bool down) {
    XTestFakeButtonEvent(display(), 1, down ? True : False, CurrentTime);
    XSync(display(), False);
}

void clickButton(unsigned button) {
    XTestFakeButtonEvent(display(), button, True, CurrentTime);
    XTestFakeButtonEvent(display(), button, False, CurrentTime);
    XSync(display(), False);
}

void setKey(unsigned keySymbol, bool down) {
    KeyCode code = XKeysymToKeycode(display(), keySymbol);
    XTestFakeKeyEvent(display(), code, down ? True : False, CurrentTime);
    XSync(display(), False);
}

}  // namespace gtktest
