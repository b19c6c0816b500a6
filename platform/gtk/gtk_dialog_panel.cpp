// Dialog panels: a modeless dialog (the About panel) is a child panel over its parent's
// client area: a caption bar above a body sized from the template's dialog units with the
// platform's dialog font, its texts as wrapping labels and its buttons at their positions.
// A button click posts WM_COMMAND(MAKEWPARAM(id, BN_CLICKED)) to the dialog, as on Windows.
#include <string>

#include "platform/gtk/gtk_native.h"

namespace platform::gtk {
namespace {

const char* const panelCss =
    ".tabladex-panel { background-color: @theme_bg_color; border: 1px solid @borders; }"
    ".tabladex-panel-caption { background-color: @theme_selected_bg_color;"
    " color: @theme_selected_fg_color; padding: 3px 6px; font-weight: bold; }";

GtkCssProvider* panelStyle() {
    static GtkCssProvider* provider = nullptr;
    if (!provider) {
        provider = gtk_css_provider_new();
        gtk_css_provider_load_from_data(provider, panelCss, -1, nullptr);
    }
    return provider;
}

void addStyleClass(GtkWidget* widget, const char* name) {
    GtkStyleContext* context = gtk_widget_get_style_context(widget);
    gtk_style_context_add_provider(context, GTK_STYLE_PROVIDER(panelStyle()),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    gtk_style_context_add_class(context, name);
}

struct ButtonCommand {
    HWND dialog;
    int id;
};

void buttonClicked(GtkButton*, gpointer data) {
    auto* command = static_cast<ButtonCommand*>(data);
    if (findWindow(command->dialog))
        postMessage(command->dialog, WM_COMMAND, MAKEWPARAM(command->id, BN_CLICKED), 0);
}

void freeButtonCommand(gpointer data, GClosure*) { delete static_cast<ButtonCommand*>(data); }

// The overlay places the panel exactly where the template says, at exactly its size: the
// body's size from dialog units, plus the caption and the frame's border.
gboolean placePanel(GtkOverlay*, GtkWidget* child, GdkRectangle* where, gpointer data) {
    auto* native = static_cast<NativeWindow*>(data);
    if (child != native->panel) return FALSE;
    GtkStyleContext* context = gtk_widget_get_style_context(child);
    GtkBorder border{};
    gtk_style_context_get_border(context, gtk_style_context_get_state(context), &border);
    int minimum = 0, natural = 0;
    gtk_widget_get_preferred_height(native->panelCaption, &minimum, &natural);
    where->x = native->panelX;
    where->y = native->panelY;
    where->width = native->bodyWidth + border.left + border.right;
    where->height = minimum + native->bodyHeight + border.top + border.bottom;
    return TRUE;
}

void panelGone(GtkWidget*, gpointer data) {
    auto* native = static_cast<NativeWindow*>(data);
    native->panel = nullptr;
    native->panelCaption = nullptr;
    native->panelBody = nullptr;
}

GtkWidget* makeControl(const DialogControlDesc& control, HWND dialog, DialogBase base) {
    int width = dialogUnitsToX(control.width, base);
    int height = dialogUnitsToY(control.height, base);
    const char* text = control.text ? control.text : "";
    GtkWidget* widget = nullptr;
    switch (control.kind) {
        case DialogControlKind::LeftText:
            widget = gtk_label_new(text);
            gtk_label_set_line_wrap(GTK_LABEL(widget), TRUE);
            gtk_label_set_line_wrap_mode(GTK_LABEL(widget), PANGO_WRAP_WORD_CHAR);
            gtk_label_set_xalign(GTK_LABEL(widget), 0.0f);
            gtk_label_set_yalign(GTK_LABEL(widget), 0.0f);
            break;
        case DialogControlKind::DefPushButton:
        case DialogControlKind::PushButton:
            widget = gtk_button_new_with_label(text);
            // A click leaves the keyboard with the main window, whose keys drive the program.
            gtk_widget_set_focus_on_click(widget, FALSE);
            g_signal_connect_data(widget, "clicked", G_CALLBACK(buttonClicked),
                                  new ButtonCommand{dialog, control.id}, freeButtonCommand,
                                  GConnectFlags(0));
            break;
    }
    gtk_widget_set_size_request(widget, width, height);
    return widget;
}

}  // namespace

DialogBase dialogBase(GtkWidget* widget) {
    PangoLayout* layout = gtk_widget_create_pango_layout(
        widget, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    return DialogBase{(width / 26 + 1) / 2, height};
}

bool createPanel(Window& window) {
    NativeWindow* parent = nativeOf(window.parent);
    if (!parent || !parent->overlay || !window.dialog) return false;
    const DialogDesc& desc = *window.dialog;
    auto* native = new NativeWindow;
    native->handle = window.handle;
    window.native = native;

    GtkWidget* panel = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    native->panel = panel;
    addStyleClass(panel, "tabladex-panel");
    GtkWidget* caption = gtk_label_new(window.title.c_str());
    gtk_label_set_xalign(GTK_LABEL(caption), 0.0f);
    addStyleClass(caption, "tabladex-panel-caption");
    gtk_box_pack_start(GTK_BOX(panel), caption, FALSE, FALSE, 0);
    native->panelCaption = caption;

    DialogBase base = dialogBase(panel);
    native->panelX = dialogUnitsToX(desc.x, base);
    native->panelY = dialogUnitsToY(desc.y, base);
    native->bodyWidth = dialogUnitsToX(desc.width, base);
    native->bodyHeight = dialogUnitsToY(desc.height, base);
    GtkWidget* body = gtk_fixed_new();
    native->panelBody = body;
    gtk_widget_set_size_request(body, native->bodyWidth, native->bodyHeight);
    gtk_box_pack_start(GTK_BOX(panel), body, FALSE, FALSE, 0);
    for (std::size_t i = 0; i < desc.count; ++i) {
        const DialogControlDesc& control = desc.controls[i];
        gtk_fixed_put(GTK_FIXED(body), makeControl(control, window.handle, base),
                      dialogUnitsToX(control.x, base), dialogUnitsToY(control.y, base));
    }

    gtk_widget_show_all(panel);
    gtk_widget_hide(panel);  // shown by ShowWindow
    gtk_widget_set_halign(panel, GTK_ALIGN_START);
    gtk_widget_set_valign(panel, GTK_ALIGN_START);
    g_signal_connect(panel, "destroy", G_CALLBACK(panelGone), native);
    g_signal_connect(parent->overlay, "get-child-position", G_CALLBACK(placePanel), native);
    // Later overlay children lie above earlier ones: a second panel covers the first.
    gtk_overlay_add_overlay(GTK_OVERLAY(parent->overlay), panel);
    return true;
}

void destroyPanel(NativeWindow& native) {
    NativeWindow* parent = nullptr;
    if (Window* window = findWindow(native.handle))
        parent = window->parent ? nativeOf(window->parent) : nullptr;
    if (parent && parent->overlay)
        g_signal_handlers_disconnect_by_data(parent->overlay, &native);
    if (native.panel) gtk_widget_destroy(native.panel);
}

}  // namespace platform::gtk
