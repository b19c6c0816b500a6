// ShellExecuteA on the desktop: a file is opened with the desktop's default handler for its
// type (GIO's choice, as the file manager makes it), launched on the owner's display. The
// launched program gets the user's environment, not the settings this backend gives itself
// at start (no accessibility bus, in-memory settings, no OpenGL).
#include <cstdio>
#include <cstdlib>

#include "platform/gtk/gtk_native.h"

namespace platform::gtk {
namespace {

// The variables ensureStarted sets for this process only, and whether the user had set
// them already (read before main, so before GTK starts).
struct OwnVariable {
    const char* name;
    bool userSet;
};
OwnVariable ownVariables[] = {
    {"NO_AT_BRIDGE", std::getenv("NO_AT_BRIDGE") != nullptr},
    {"GSETTINGS_BACKEND", std::getenv("GSETTINGS_BACKEND") != nullptr},
    {"GDK_GL", std::getenv("GDK_GL") != nullptr},
};

}  // namespace
}  // namespace platform::gtk

HINSTANCE ShellExecuteA(HWND owner, LPCSTR operation, LPCSTR file, LPCSTR, LPCSTR, int) {
    auto result = [](INT_PTR code) { return reinterpret_cast<HINSTANCE>(code); };
    if (operation && g_strcmp0(operation, "open") != 0) return result(SE_ERR_NOASSOC);
    if (!file || !g_file_test(file, G_FILE_TEST_EXISTS)) return result(ERROR_FILE_NOT_FOUND);
    if (!platform::gtk::ensureStarted()) return result(SE_ERR_NOASSOC);

    GError* error = nullptr;
    gchar* uri = g_filename_to_uri(file, nullptr, &error);
    GdkDisplay* display = nullptr;
    if (GtkWindow* parent = owner ? platform::gtk::toplevelOf(owner) : nullptr)
        display = gtk_widget_get_display(GTK_WIDGET(parent));
    if (!display) display = gdk_display_get_default();
    GdkAppLaunchContext* context = display ? gdk_display_get_app_launch_context(display) : nullptr;
    if (context) {
        for (const auto& variable : platform::gtk::ownVariables)
            if (!variable.userSet)
                g_app_launch_context_unsetenv(G_APP_LAUNCH_CONTEXT(context), variable.name);
    }
    const bool launched =
        uri && g_app_info_launch_default_for_uri(uri, context ? G_APP_LAUNCH_CONTEXT(context) : nullptr,
                                                 &error);
    if (!launched)
        std::fprintf(stderr, "tabladex: cannot open %s: %s\n", uri ? uri : file,
                     error ? error->message : "no program opens it");
    if (error) g_error_free(error);
    if (context) g_object_unref(context);
    g_free(uri);
    return result(launched ? 42 : SE_ERR_NOASSOC);
}
