#include "platform/list_view.h"

#include <gtk/gtk.h>

namespace platform {
namespace {

// Store columns: the row's picture, its image index, then the texts.
constexpr int kPixbufColumn = 0;
constexpr int kImageIndexColumn = 1;
constexpr int kFirstTextColumn = 2;

GdkPixbuf* MakePixbuf(const ListViewImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() < size_t(image.width) * size_t(image.height))
        return nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, image.width, image.height);
    guchar* bytes = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < image.height; ++y) {
        guchar* out = bytes + size_t(y) * size_t(stride);
        for (int x = 0; x < image.width; ++x, out += 4) {
            const uint32_t argb = image.pixels[size_t(y) * size_t(image.width) + size_t(x)];
            out[0] = static_cast<guchar>(argb >> 16);
            out[1] = static_cast<guchar>(argb >> 8);
            out[2] = static_cast<guchar>(argb);
            out[3] = static_cast<guchar>(argb >> 24);
        }
    }
    return pixbuf;
}

class GtkListView : public ListView {
public:
    explicit GtkListView(GtkWidget* parent) : m_parent(parent) {
        m_scrolled = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(m_scrolled), GTK_SHADOW_IN);
        gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(m_scrolled), FALSE);
        m_view = gtk_tree_view_new();
        gtk_container_add(GTK_CONTAINER(m_scrolled), m_view);
        gtk_fixed_put(GTK_FIXED(parent), m_scrolled, 0, 0);
        g_signal_connect(m_view, "button-press-event", G_CALLBACK(&GtkListView::OnButtonPress), this);
        g_signal_connect(m_view, "row-activated", G_CALLBACK(&GtkListView::OnRowActivated), this);
        g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(m_view)), "changed",
                         G_CALLBACK(&GtkListView::OnSelectionChanged), this);
        gtk_widget_show_all(m_scrolled);
        // Held, so that the objects outlive a parent that goes first.
        g_object_ref(m_scrolled);
        g_object_ref(m_view);
        m_selection = GTK_TREE_SELECTION(g_object_ref(gtk_tree_view_get_selection(GTK_TREE_VIEW(m_view))));
    }

    ~GtkListView() override {
        g_signal_handlers_disconnect_by_data(m_view, this);
        g_signal_handlers_disconnect_by_data(m_selection, this);
        g_object_unref(m_selection);
        // Destroying twice is harmless: the parent may have destroyed the widgets already.
        gtk_widget_destroy(m_scrolled);
        g_object_unref(m_view);
        g_object_unref(m_scrolled);
        for (GdkPixbuf* pixbuf : m_images)
            if (pixbuf != nullptr)
                g_object_unref(pixbuf);
    }

    void SetCallbacks(Callbacks callbacks) override { m_callbacks = std::move(callbacks); }

    void SetColumns(const std::vector<ListViewColumn>& columns) override {
        while (GtkTreeViewColumn* column = gtk_tree_view_get_column(GTK_TREE_VIEW(m_view), 0))
            gtk_tree_view_remove_column(GTK_TREE_VIEW(m_view), column);
        m_textColumns = static_cast<int>(columns.size());
        std::vector<GType> types{GDK_TYPE_PIXBUF, G_TYPE_INT};
        for (size_t i = 0; i < columns.size(); ++i)
            types.push_back(G_TYPE_STRING);
        GtkListStore* store = gtk_list_store_newv(static_cast<gint>(types.size()), types.data());
        gtk_tree_view_set_model(GTK_TREE_VIEW(m_view), GTK_TREE_MODEL(store));
        g_object_unref(store);
        m_store = store;

        GtkCellRenderer* picture = gtk_cell_renderer_pixbuf_new();
        g_object_set(picture, "xalign", 0.0, "xpad", 0, "ypad", 0, nullptr);
        m_imageColumn =
            gtk_tree_view_column_new_with_attributes("", picture, "pixbuf", kPixbufColumn, nullptr);
        gtk_tree_view_column_set_sizing(m_imageColumn, GTK_TREE_VIEW_COLUMN_FIXED);
        gtk_tree_view_column_set_fixed_width(m_imageColumn, m_imageWidth);
        gtk_tree_view_append_column(GTK_TREE_VIEW(m_view), m_imageColumn);
        // The name shares the first header: the picture stands in front of it.
        for (size_t i = 0; i < columns.size(); ++i) {
            GtkCellRenderer* text = gtk_cell_renderer_text_new();
            g_object_set(text, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
            GtkTreeViewColumn* column = gtk_tree_view_column_new_with_attributes(
                columns[i].title.c_str(), text, "text", kFirstTextColumn + static_cast<int>(i), nullptr);
            gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_FIXED);
            gtk_tree_view_column_set_fixed_width(column, columns[i].width);
            gtk_tree_view_column_set_resizable(column, TRUE);
            // The last column fills the rest, never narrower than asked.
            if (i + 1 == columns.size()) {
                gtk_tree_view_column_set_expand(column, TRUE);
                gtk_tree_view_column_set_min_width(column, columns[i].width);
            }
            gtk_tree_view_append_column(GTK_TREE_VIEW(m_view), column);
        }
    }

    void SetImages(const std::vector<ListViewImage>& images) override {
        for (GdkPixbuf* pixbuf : m_images)
            if (pixbuf != nullptr)
                g_object_unref(pixbuf);
        m_images.clear();
        m_imageHeight = 0;
        for (const ListViewImage& image : images) {
            m_images.push_back(MakePixbuf(image));
            m_imageWidth = std::max(m_imageWidth, image.width);
            m_imageHeight = std::max(m_imageHeight, image.height);
        }
        if (m_imageColumn != nullptr)
            gtk_tree_view_column_set_fixed_width(m_imageColumn, m_imageWidth);
    }

    void SetRows(const std::vector<ListViewRow>& rows) override {
        if (m_store == nullptr)
            return;
        m_silent = true;
        gtk_list_store_clear(m_store);
        for (const ListViewRow& row : rows) {
            GtkTreeIter iter;
            gtk_list_store_append(m_store, &iter);
            gtk_list_store_set(m_store, &iter, kPixbufColumn, ImageAt(row.image), kImageIndexColumn,
                               row.image, -1);
            for (int i = 0; i < m_textColumns && size_t(i) < row.texts.size(); ++i)
                gtk_list_store_set(m_store, &iter, kFirstTextColumn + i, row.texts[size_t(i)].c_str(), -1);
        }
        m_silent = false;
    }

    void SetRowImage(int row, int image) override {
        GtkTreeIter iter;
        if (m_store == nullptr ||
            !gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(m_store), &iter, nullptr, row))
            return;
        gtk_list_store_set(m_store, &iter, kPixbufColumn, ImageAt(image), kImageIndexColumn, image, -1);
    }

    int GetSelection() const override {
        GtkTreeModel* model = nullptr;
        GtkTreeIter iter;
        if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(m_view)), &model,
                                             &iter))
            return -1;
        GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
        const int row = gtk_tree_path_get_indices(path)[0];
        gtk_tree_path_free(path);
        return row;
    }

    int GetRowCount() const override {
        return m_store != nullptr ? gtk_tree_model_iter_n_children(GTK_TREE_MODEL(m_store), nullptr) : 0;
    }

    CUIRect GetRowRect(int row) const override {
        if (row < 0 || row >= GetRowCount())
            return {};
        GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
        GdkRectangle area;
        gtk_tree_view_get_background_area(GTK_TREE_VIEW(m_view), path, nullptr, &area);
        gtk_tree_path_free(path);
        int wx = 0, wy = 0, px = 0, py = 0;
        gtk_tree_view_convert_bin_window_to_widget_coords(GTK_TREE_VIEW(m_view), area.x, area.y, &wx, &wy);
        if (!gtk_widget_translate_coordinates(m_view, m_parent, wx, wy, &px, &py))
            return {};
        return CUIRect::FromSize(px, py, area.width, area.height);
    }

    void SetSize(CUISize size) override {
        gtk_widget_set_size_request(m_scrolled, std::max(size.cx, 1), std::max(size.cy, 1));
    }

private:
    GdkPixbuf* ImageAt(int index) const {
        return index >= 0 && size_t(index) < m_images.size() ? m_images[size_t(index)] : nullptr;
    }

    static int RowOf(GtkTreePath* path) { return path != nullptr ? gtk_tree_path_get_indices(path)[0] : -1; }

    static gboolean OnButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer data) {
        auto* self = static_cast<GtkListView*>(data);
        if (event->button != 1 || event->type != GDK_BUTTON_PRESS || !self->m_callbacks.pressed)
            return FALSE;
        if (event->window != gtk_tree_view_get_bin_window(GTK_TREE_VIEW(widget)))
            return FALSE; // the header's own
        GtkTreePath* path = nullptr;
        GtkTreeViewColumn* column = nullptr;
        if (!gtk_tree_view_get_path_at_pos(GTK_TREE_VIEW(widget), static_cast<int>(event->x),
                                           static_cast<int>(event->y), &path, &column, nullptr, nullptr))
            return FALSE;
        CUIPoint inImage{-1, -1};
        if (column == self->m_imageColumn) {
            GdkRectangle cell;
            gtk_tree_view_get_cell_area(GTK_TREE_VIEW(widget), path, column, &cell);
            // The picture sits at the cell's left, centred from top to bottom.
            inImage = {static_cast<int>(event->x) - cell.x,
                       static_cast<int>(event->y) - cell.y - (cell.height - self->m_imageHeight) / 2};
        }
        const int row = RowOf(path);
        gtk_tree_path_free(path);
        self->m_callbacks.pressed(row, inImage);
        return FALSE; // the list still selects the row
    }

    static void OnRowActivated(GtkTreeView*, GtkTreePath* path, GtkTreeViewColumn*, gpointer data) {
        auto* self = static_cast<GtkListView*>(data);
        if (self->m_callbacks.activated)
            self->m_callbacks.activated(RowOf(path));
    }

    static void OnSelectionChanged(GtkTreeSelection*, gpointer data) {
        auto* self = static_cast<GtkListView*>(data);
        if (!self->m_silent && self->m_callbacks.selected)
            self->m_callbacks.selected(self->GetSelection());
    }

    GtkWidget* m_parent;
    GtkWidget* m_scrolled = nullptr;
    GtkWidget* m_view = nullptr;
    GtkTreeSelection* m_selection = nullptr;
    GtkListStore* m_store = nullptr; // held by the view
    GtkTreeViewColumn* m_imageColumn = nullptr;
    std::vector<GdkPixbuf*> m_images;
    int m_imageWidth = 1;
    int m_imageHeight = 0;
    int m_textColumns = 0;
    bool m_silent = false;
    Callbacks m_callbacks;
};

} // namespace

std::unique_ptr<ListView> ListView::Create(NativeWindow parent) {
    // A toolkit child window's handle is its GtkFixed.
    if (parent == nullptr || !GTK_IS_FIXED(parent))
        return nullptr;
    return std::make_unique<GtkListView>(GTK_WIDGET(parent));
}

} // namespace platform
