#include "platform/folder_tree.h"
#include "platform/shell_folders.h"

#include <gtk/gtk.h>

namespace platform {
namespace {

enum Column { kName, kPath, kLoaded, kColumns };

// One run of the popup: the tree, its loop and the choice.
struct Popup {
    GtkWidget* window = nullptr;
    GtkWidget* view = nullptr;
    GtkTreeStore* store = nullptr;
    GMainLoop* loop = nullptr;
    std::optional<std::string> chosen;
};

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// A row that is not loaded holds one empty child, so that it shows an expander.
void AddFolderRow(GtkTreeStore* store, GtkTreeIter* parent, const std::string& path, GtkTreeIter* row) {
    gtk_tree_store_append(store, row, parent);
    gtk_tree_store_set(store, row, kName, GetShellDisplayName(path).c_str(), kPath, path.c_str(), kLoaded,
                       FALSE, -1);
    GtkTreeIter placeholder;
    gtk_tree_store_append(store, &placeholder, row);
}

void LoadChildren(GtkTreeStore* store, GtkTreeIter* row) {
    gboolean loaded = FALSE;
    gchar* path = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(store), row, kLoaded, &loaded, kPath, &path, -1);
    const std::string folder = path != nullptr ? path : "";
    g_free(path);
    if (loaded)
        return;
    gtk_tree_store_set(store, row, kLoaded, TRUE, -1);
    GtkTreeIter child;
    while (gtk_tree_model_iter_children(GTK_TREE_MODEL(store), &child, row))
        gtk_tree_store_remove(store, &child);
    for (const std::string& name : ListSubFolders(folder)) {
        GtkTreeIter added;
        AddFolderRow(store, row, JoinPath(folder, name), &added);
    }
}

gboolean OnTestExpand(GtkTreeView*, GtkTreeIter* row, GtkTreePath*, gpointer data) {
    LoadChildren(static_cast<Popup*>(data)->store, row);
    return FALSE; // expand
}

std::string PathOf(GtkTreeStore* store, GtkTreePath* treePath) {
    GtkTreeIter row;
    if (!gtk_tree_model_get_iter(GTK_TREE_MODEL(store), &row, treePath))
        return std::string();
    gchar* path = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(store), &row, kPath, &path, -1);
    std::string result = path != nullptr ? path : "";
    g_free(path);
    return result;
}

void Choose(Popup& popup, GtkTreePath* treePath) {
    std::string path = PathOf(popup.store, treePath);
    if (path.empty())
        return; // a placeholder row
    popup.chosen = std::move(path);
    g_main_loop_quit(popup.loop);
}

void OnRowActivated(GtkTreeView*, GtkTreePath* path, GtkTreeViewColumn*, gpointer data) {
    Choose(*static_cast<Popup*>(data), path);
}

// A click on a folder's name chooses it; a click on its expander only opens the branch.
gboolean OnViewRelease(GtkWidget* widget, GdkEventButton* event, gpointer data) {
    auto& popup = *static_cast<Popup*>(data);
    if (event->button != 1 || event->window != gtk_tree_view_get_bin_window(GTK_TREE_VIEW(widget)))
        return FALSE;
    GtkTreePath* path = nullptr;
    GtkTreeViewColumn* column = nullptr;
    if (!gtk_tree_view_get_path_at_pos(GTK_TREE_VIEW(widget), static_cast<int>(event->x),
                                       static_cast<int>(event->y), &path, &column, nullptr, nullptr))
        return FALSE;
    GdkRectangle cell;
    gtk_tree_view_get_cell_area(GTK_TREE_VIEW(widget), path, column, &cell);
    if (event->x >= cell.x)
        Choose(popup, path);
    gtk_tree_path_free(path);
    return FALSE;
}

// With the pointer grabbed, a press outside the popup arrives here with coordinates outside it.
gboolean OnWindowPress(GtkWidget* widget, GdkEventButton* event, gpointer data) {
    auto& popup = *static_cast<Popup*>(data);
    GtkAllocation area;
    gtk_widget_get_allocation(widget, &area);
    int x = 0, y = 0;
    gdk_window_get_origin(gtk_widget_get_window(widget), &x, &y);
    const double rx = event->x_root - x, ry = event->y_root - y;
    if (rx < 0 || ry < 0 || rx >= area.width || ry >= area.height) {
        g_main_loop_quit(popup.loop);
        return TRUE;
    }
    return FALSE;
}

gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    if (event->keyval != GDK_KEY_Escape)
        return FALSE;
    g_main_loop_quit(static_cast<Popup*>(data)->loop);
    return TRUE;
}

} // namespace

std::optional<std::string> RunFolderTreePopup(NativeWindow owner, CUIPoint screen, CUISize size,
                                              const std::string& startFolder) {
    Popup popup;
    popup.window = gtk_window_new(GTK_WINDOW_POPUP);
    if (owner != nullptr && GTK_IS_WIDGET(owner)) {
        GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(owner));
        if (GTK_IS_WINDOW(top))
            gtk_window_set_transient_for(GTK_WINDOW(popup.window), GTK_WINDOW(top));
    }
    gtk_window_move(GTK_WINDOW(popup.window), screen.x, screen.y);
    gtk_window_set_default_size(GTK_WINDOW(popup.window), std::max(size.cx, 100), std::max(size.cy, 100));

    popup.store = gtk_tree_store_new(kColumns, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_BOOLEAN);
    popup.view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(popup.store));
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(popup.view), FALSE);
    gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(popup.view), -1, "",
                                                gtk_cell_renderer_text_new(), "text", kName, nullptr);
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(scrolled), popup.view);
    gtk_container_add(GTK_CONTAINER(popup.window), scrolled);

    GtkTreeIter root;
    AddFolderRow(popup.store, nullptr, "/", &root);
    // Opened down to the start folder, which is selected and scrolled into view.
    GtkTreeIter at = root;
    GtkTreePath* selected = gtk_tree_model_get_path(GTK_TREE_MODEL(popup.store), &root);
    for (const std::string& folder : GetFolderChain(startFolder)) {
        if (folder == "/")
            continue;
        LoadChildren(popup.store, &at);
        GtkTreeIter child;
        bool found = false;
        for (gboolean more = gtk_tree_model_iter_children(GTK_TREE_MODEL(popup.store), &child, &at); more;
             more = gtk_tree_model_iter_next(GTK_TREE_MODEL(popup.store), &child)) {
            gchar* path = nullptr;
            gtk_tree_model_get(GTK_TREE_MODEL(popup.store), &child, kPath, &path, -1);
            found = path != nullptr && folder == path;
            g_free(path);
            if (found)
                break;
        }
        if (!found)
            break; // a hidden or vanished folder: the tree stops above it
        GtkTreePath* parentPath = gtk_tree_model_get_path(GTK_TREE_MODEL(popup.store), &at);
        gtk_tree_view_expand_row(GTK_TREE_VIEW(popup.view), parentPath, FALSE);
        gtk_tree_path_free(parentPath);
        at = child;
        gtk_tree_path_free(selected);
        selected = gtk_tree_model_get_path(GTK_TREE_MODEL(popup.store), &at);
    }
    gtk_tree_view_set_cursor(GTK_TREE_VIEW(popup.view), selected, nullptr, FALSE);
    gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(popup.view), selected, nullptr, TRUE, 0.3f, 0.0f);
    gtk_tree_path_free(selected);

    g_signal_connect(popup.view, "test-expand-row", G_CALLBACK(OnTestExpand), &popup);
    g_signal_connect(popup.view, "row-activated", G_CALLBACK(OnRowActivated), &popup);
    g_signal_connect(popup.view, "button-release-event", G_CALLBACK(OnViewRelease), &popup);
    g_signal_connect(popup.window, "button-press-event", G_CALLBACK(OnWindowPress), &popup);
    g_signal_connect(popup.window, "key-press-event", G_CALLBACK(OnKey), &popup);
    gtk_widget_add_events(popup.window, GDK_BUTTON_PRESS_MASK | GDK_KEY_PRESS_MASK);

    gtk_widget_show_all(popup.window);
    gtk_widget_grab_focus(popup.view);
    gtk_grab_add(popup.window);
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(popup.window));
    const bool grabbed = gdk_seat_grab(seat, gtk_widget_get_window(popup.window), GDK_SEAT_CAPABILITY_ALL,
                                       TRUE, nullptr, nullptr, nullptr, nullptr) == GDK_GRAB_SUCCESS;

    popup.loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(popup.loop);
    g_main_loop_unref(popup.loop);

    if (grabbed)
        gdk_seat_ungrab(seat);
    gtk_grab_remove(popup.window);
    gtk_widget_destroy(popup.window);
    g_object_unref(popup.store);
    return popup.chosen;
}

} // namespace platform
