// gtk_backend.h - the desktop backend's controls for tests: the GTK widgets behind a
// window, a wait for the client area to be painted, a read-back of its pixels, and hooks
// that answer the next modal message box or file chooser once it is up.
//
// The program itself never includes this header; it reaches the backend only through
// win_api.h.
//
// Threads: main thread only. Ownership: the widgets returned belong to the backend and
// live as long as their window; hooks are kept until they have run once.
#pragma once

// win_api.h first: its TRUE and FALSE are the ones GLib then keeps.
#include "platform/win_api.h"

#include <gtk/gtk.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace gtkbackend {

// The widgets of a top-level window (null for unknown handles or panels).
GtkWindow* toplevel(HWND window);
GtkWidget* menuBar(HWND window);
GtkWidget* clientArea(HWND window);
// The widget of a dialog panel (null for unknown handles or top-level windows).
GtkWidget* panel(HWND dialog);

// How often the client area has been painted.
unsigned long drawCount(HWND window);

// Runs the GTK main loop until pred() holds or timeoutMs passes; returns pred().
bool pumpUntil(const std::function<bool()>& pred, int timeoutMs = 5000);

// The client area's pixels as the X server shows them, top row first, 0x00RRGGBB; false
// when the window is not on screen.
bool readClientPixels(HWND window, int& width, int& height, std::vector<uint32_t>& pixels);

// The next message box or file chooser calls hook(dialog) once it is shown; the hook
// answers it (pressResponse, chooseFile, typeFileName) or inspects it first. One hook per
// dialog: it is forgotten after it ran.
void onNextMessageBox(std::function<void(GtkDialog*)> hook);
void onNextFileChooser(std::function<void(GtkDialog*)> hook);

// Clicks the dialog's button for a GTK response (GTK_RESPONSE_OK, GTK_RESPONSE_CANCEL, ...).
// False when the dialog has no such button.
bool pressResponse(GtkDialog* dialog, int response);
// Selects an existing file by full path in a file chooser and presses Open.
void chooseFile(GtkDialog* chooser, const std::string& path);
// Types a name into the chooser's location field, as a user would after Ctrl+L, and
// presses Open.
void typeFileName(GtkDialog* chooser, const std::string& name);

}  // namespace gtkbackend
