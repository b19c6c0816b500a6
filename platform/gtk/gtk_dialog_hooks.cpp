// The modal dialogs' test hooks: a hook waits for the next dialog of its kind and runs once
// that dialog has been mapped, from the dialog's own modal loop.
#include "platform/gtk/gtk_backend.h"
#include "platform/gtk/gtk_dialog_hooks.h"

#include <utility>

namespace platform::gtk {
namespace {

std::function<void(GtkDialog*)> pendingHooks[2];

gboolean runHook(gpointer data) {
    auto* call = static_cast<std::pair<GtkWidget*, std::function<void(GtkDialog*)>>*>(data);
    call->second(GTK_DIALOG(call->first));
    g_object_unref(call->first);
    delete call;
    return G_SOURCE_REMOVE;
}

void dialogMapped(GtkWidget* dialog, gpointer data) {
    auto* hook = static_cast<std::function<void(GtkDialog*)>*>(data);
    if (!*hook) return;
    // After the map has finished, so the hook sees the dialog as the user would.
    g_object_ref(dialog);
    g_idle_add(runHook, new std::pair<GtkWidget*, std::function<void(GtkDialog*)>>(
                            dialog, std::move(*hook)));
    *hook = nullptr;
}

void freeHook(gpointer data, GClosure*) {
    delete static_cast<std::function<void(GtkDialog*)>*>(data);
}

}  // namespace

void attachPendingHook(HookKind kind, GtkWidget* dialog) {
    auto& pending = pendingHooks[static_cast<int>(kind)];
    if (!pending) return;
    g_signal_connect_data(dialog, "map", G_CALLBACK(dialogMapped),
                          new std::function<void(GtkDialog*)>(std::move(pending)), freeHook,
                          GConnectFlags(0));
    pending = nullptr;
}

}  // namespace platform::gtk

namespace gtkbackend {

void onNextMessageBox(std::function<void(GtkDialog*)> hook) {
    platform::gtk::pendingHooks[int(platform::gtk::HookKind::MessageBox)] = std::move(hook);
}

void onNextFileChooser(std::function<void(GtkDialog*)> hook) {
    platform::gtk::pendingHooks[int(platform::gtk::HookKind::FileChooser)] = std::move(hook);
}

bool pressResponse(GtkDialog* dialog, int response) {
    GtkWidget* button = gtk_dialog_get_widget_for_response(dialog, response);
    if (!button) return false;
    gtk_button_clicked(GTK_BUTTON(button));
    return true;
}

}  // namespace gtkbackend
