// x_input.h - real input through the X server's XTest extension: the pointer's left button
// and keys, delivered as the server would deliver a user's (to the focused window). Kept
// apart: Xlib's macros clash with GoogleTest's names. Threads: main thread only.
#pragma once

namespace gtktest {

// Presses (down) or releases button 1 and waits for the server.
void setLeftButton(bool down);
// Presses or releases the key of a key symbol (GDK_KEY_* values are X key symbols).
void setKey(unsigned keySymbol, bool down);

}  // namespace gtktest
