// The open-file dialog: GTK's native file chooser, modal and transient for the owner's
// window, titled from lpstrTitle, opening in lpstrInitialDir, with one filter per pair of
// lpstrFilter (matched in any letter case) and the record's filter selected. The shared
// GetOpenFileNameA applies the default extension, the must-exist checks and the buffer size.
#include <cstdlib>
#include <memory>

#include "platform/common/backend.h"
#include "platform/common/open_file_rules.h"
#include "platform/gtk/gtk_backend.h"
#include "platform/gtk/gtk_dialog_hooks.h"
#include "platform/gtk/gtk_modal.h"
#include "platform/gtk/gtk_native.h"

namespace platform::gtk {
namespace {

gboolean matchesFilter(const GtkFileFilterInfo* info, gpointer data) {
    const auto* filter = static_cast<const FileFilter*>(data);
    if (!info->display_name) return FALSE;
    for (const std::string& pattern : filter->patterns)
        if (matchesPattern(info->display_name, pattern)) return TRUE;
    return FALSE;
}

void freeFilter(gpointer data) { delete static_cast<FileFilter*>(data); }

}  // namespace
}  // namespace platform::gtk

namespace platform::backend {

bool chooseOpenFile(const OPENFILENAMEA& ofn, std::string& chosen) {
    if (!gtk::ensureStarted()) return false;
    GtkWindow* parent = ofn.hwndOwner ? gtk::toplevelOf(ofn.hwndOwner) : nullptr;
    const char* title = ofn.lpstrTitle && *ofn.lpstrTitle ? ofn.lpstrTitle : "Open";
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        title, parent, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel", GTK_RESPONSE_CANCEL, "_Open",
        GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_local_only(chooser, TRUE);

    if (ofn.lpstrInitialDir && *ofn.lpstrInitialDir) {
        // A relative start folder is relative to the current directory, as on Windows.
        char* folder = g_canonicalize_filename(ofn.lpstrInitialDir, nullptr);
        gtk_file_chooser_set_current_folder(chooser, folder);
        g_free(folder);
    }

    std::vector<FileFilter> filters = openFileFilters(ofn);
    // nFilterIndex counts from 1; anything else selects the first filter.
    std::size_t selected =
        ofn.nFilterIndex >= 1 && ofn.nFilterIndex <= filters.size() ? ofn.nFilterIndex - 1 : 0;
    for (std::size_t i = 0; i < filters.size(); ++i) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, filters[i].description.c_str());
        gtk_file_filter_add_custom(filter, GTK_FILE_FILTER_DISPLAY_NAME, gtk::matchesFilter,
                                   new FileFilter(filters[i]), gtk::freeFilter);
        gtk_file_chooser_add_filter(chooser, filter);
        if (i == selected) gtk_file_chooser_set_filter(chooser, filter);
    }

    gtk::attachPendingHook(gtk::HookKind::FileChooser, dialog);
    int response = gtk::runModal(GTK_DIALOG(dialog));
    bool accepted = false;
    if (response == GTK_RESPONSE_ACCEPT) {
        char* name = gtk_file_chooser_get_filename(chooser);
        if (name) {
            chosen = name;
            accepted = true;
            g_free(name);
        }
    }
    gtk_widget_destroy(dialog);
    return accepted;
}

}  // namespace platform::backend

namespace gtkbackend {

void chooseFile(GtkDialog* chooser, const std::string& path) {
    gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(chooser), path.c_str());
    gtk_dialog_response(chooser, GTK_RESPONSE_ACCEPT);
}

void typeFileName(GtkDialog* chooser, const std::string& name) {
    // The chooser's own key binding for the location field (Ctrl+L), with the text typed.
    GtkWidget* widget = nullptr;
    GtkWidget* content = gtk_dialog_get_content_area(chooser);
    GList* children = gtk_container_get_children(GTK_CONTAINER(content));
    for (GList* at = children; at; at = at->next)
        if (GTK_IS_FILE_CHOOSER_WIDGET(at->data)) widget = GTK_WIDGET(at->data);
    g_list_free(children);
    if (widget) g_signal_emit_by_name(widget, "location-popup", name.c_str());
    gtk_dialog_response(chooser, GTK_RESPONSE_ACCEPT);
}

}  // namespace gtkbackend
