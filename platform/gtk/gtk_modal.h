// gtk_modal.h - runs the backend's modal dialogs (message boxes and the file chooser) and
// ends them when the program is asked to end. A modal dialog runs a loop of its own, and
// the program's loop, which would take the main window's WM_CLOSE, waits behind it; so a
// termination signal answers every dialog that is up as its close box would, and every
// dialog opened after it at once, and the program ends in order.
//
// Threads: main thread only. Ownership: the caller owns the dialog; this keeps no reference.
#pragma once

#include <gtk/gtk.h>

namespace platform::gtk {

// gtk_dialog_run on the dialog, or GTK_RESPONSE_DELETE_EVENT without showing it once the
// program is ending.
int runModal(GtkDialog* dialog);

// Answers every dialog runModal runs now with GTK_RESPONSE_DELETE_EVENT and marks the
// program as ending (until the next main window is created).
void endModalDialogs();
void clearModalEnding();

}  // namespace platform::gtk
