// Message boxes: a native modal GtkMessageDialog with the text, the caption as its title,
// the buttons of the MB_ type and its icon, transient for the owner's window. gtk_dialog_run
// blocks the calling (main) thread like MessageBoxA: frames stop, other threads go on.
#include "platform/common/backend.h"
#include "platform/gtk/gtk_dialog_hooks.h"
#include "platform/gtk/gtk_modal.h"
#include "platform/gtk/gtk_native.h"

namespace platform::gtk {
namespace {

GtkMessageType messageTypeOf(UINT type) {
    switch (type & 0xF0) {
        case MB_ICONERROR: return GTK_MESSAGE_ERROR;
        case MB_ICONQUESTION: return GTK_MESSAGE_QUESTION;
        case MB_ICONWARNING: return GTK_MESSAGE_WARNING;
        case MB_ICONINFORMATION: return GTK_MESSAGE_INFO;
        default: return GTK_MESSAGE_OTHER;
    }
}

int answerOf(int response, UINT type) {
    switch (response) {
        case GTK_RESPONSE_OK: return IDOK;
        case GTK_RESPONSE_CANCEL: return IDCANCEL;
        case GTK_RESPONSE_YES: return IDYES;
        case GTK_RESPONSE_NO: return IDNO;
        default:
            // Closed without a button (Escape, the close box): what Windows answers then.
            switch (type & 0x0F) {
                case MB_OKCANCEL: return IDCANCEL;
                case MB_YESNO: return IDNO;
                default: return IDOK;
            }
    }
}

}  // namespace

}  // namespace platform::gtk

namespace platform::backend {

int messageBox(HWND owner, const char* text, const char* caption, UINT type) {
    if (!gtk::ensureStarted()) return 0;
    GtkWindow* parent = owner ? gtk::toplevelOf(owner) : nullptr;
    GtkWidget* dialog = gtk_message_dialog_new(
        parent, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        gtk::messageTypeOf(type), GTK_BUTTONS_NONE, "%s", text);
    gtk_window_set_title(GTK_WINDOW(dialog), caption);
    switch (type & 0x0F) {
        case MB_OKCANCEL:
            gtk_dialog_add_buttons(GTK_DIALOG(dialog), "_Cancel", GTK_RESPONSE_CANCEL, "_OK",
                                   GTK_RESPONSE_OK, nullptr);
            gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
            break;
        case MB_YESNO:
            gtk_dialog_add_buttons(GTK_DIALOG(dialog), "_No", GTK_RESPONSE_NO, "_Yes",
                                   GTK_RESPONSE_YES, nullptr);
            gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_YES);
            break;
        default:
            gtk_dialog_add_button(GTK_DIALOG(dialog), "_OK", GTK_RESPONSE_OK);
            gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
            break;
    }
    if (!parent) gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk::attachPendingHook(gtk::HookKind::MessageBox, dialog);
    int response = gtk::runModal(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return gtk::answerOf(response, type);
}

}  // namespace platform::backend
