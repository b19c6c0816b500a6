// gtk_dialog_hooks.h - the test hooks of the modal dialogs: a hook set through gtk_backend.h
// runs once the next dialog of its kind is on screen, inside the dialog's own modal loop.
//
// Threads: main thread only. Ownership: a pending hook is kept until a dialog takes it.
#pragma once

#include "platform/win_api.h"

#include <gtk/gtk.h>

#include <functional>

namespace platform::gtk {

enum class HookKind { MessageBox, FileChooser };

// Hands the pending hook of that kind (if any) to the dialog: it runs when the dialog has
// been mapped.
void attachPendingHook(HookKind kind, GtkWidget* dialog);

}  // namespace platform::gtk
