// The modal dialogs that are up, innermost last, and whether the program is ending.
#include "platform/gtk/gtk_modal.h"

#include <algorithm>
#include <vector>

namespace platform::gtk {

namespace {

std::vector<GtkDialog*>& running() {
    static std::vector<GtkDialog*> dialogs;
    return dialogs;
}

bool ending = false;

}  // namespace

int runModal(GtkDialog* dialog) {
    if (ending) return GTK_RESPONSE_DELETE_EVENT;
    running().push_back(dialog);
    const int response = gtk_dialog_run(dialog);
    auto& dialogs = running();
    dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), dialog), dialogs.end());
    return response;
}

void endModalDialogs() {
    ending = true;
    // Innermost first: each answer ends that dialog's loop once control returns to it.
    const std::vector<GtkDialog*> dialogs = running();
    for (auto it = dialogs.rbegin(); it != dialogs.rend(); ++it)
        gtk_dialog_response(*it, GTK_RESPONSE_DELETE_EVENT);
}

void clearModalEnding() { ending = false; }

}  // namespace platform::gtk
