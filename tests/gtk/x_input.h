// x_input.h - real input through the X server's XTest extension: the pointer's buttons and
// keys, delivered as the server would deliver a user's (keys to the focused window). Kept
// apart: Xlib's macros clash with GoogleTest's names. Threads: main thread only.
#pragma once

namespace gtktest {

// Presses (down) or releases button 1 and waits for the server.
void setLeftButton(bool down);
// Presses and releases a pointer button (4 wheel up, 5 wheel down) and waits for the server.
void clickButton(unsigned button);
// Presses or releases the key of a key symbol (GDK_KEY_* values are X key symbols).
void setKey(unsigned keySymbol, bool down);

}  // namespace gtktest
