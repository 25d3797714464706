#include "views/picture_details_view.h"

#include "platform/resources.h"
#include "ui/application.h"
#include "views/picture_browser_pane.h"

namespace {

constexpr uint32_t kBitmapTicked = 173;
constexpr uint32_t kBitmapUnticked = 174;
constexpr int kImageTicked = 0;
constexpr int kImageUnticked = 1;

const CUIColor kWhite(255, 255, 255);

void Put(platform::ListViewImage& image, CUIPoint at, const CUIImage& source) {
    for (int y = 0; y < source.Height(); ++y) {
        for (int x = 0; x < source.Width(); ++x) {
            const int tx = at.x + x, ty = at.y + y;
            if (tx < 0 || ty < 0 || tx >= image.width || ty >= image.height)
                continue;
            const CUIColor color = source.GetPixel(x, y);
            image.pixels[size_t(ty) * size_t(image.width) + size_t(tx)] =
                0xFF000000u | uint32_t{color.Red()} << 16 | uint32_t{color.Green()} << 8 | color.Blue();
        }
    }
}

} // namespace

CPictureDetailsView::CPictureDetailsView(CPictureBrowserModel& model, Callbacks callbacks)
    : m_model(model), m_callbacks(std::move(callbacks)) {
    m_ticked = CUIImage::FromResource(kBitmapTicked);
    m_unticked = CUIImage::FromResource(kBitmapUnticked);
}

CPictureDetailsView::~CPictureDetailsView() {
    *m_alive = false;
    m_list.reset(); // before the window that holds it
}

platform::ListViewImage CPictureDetailsView::MakeRowImage(const CUIImage* tickBox, const CUIImage& icon) {
    platform::ListViewImage image;
    image.width = kImageSize.cx;
    image.height = kImageSize.cy;
    image.pixels.assign(size_t(image.width) * size_t(image.height), 0xFFFFFFFFu);
    if (tickBox != nullptr)
        Put(image, kTickAt, *tickBox);
    Put(image, kIconAt, icon);
    return image;
}

void CPictureDetailsView::CreateList() {
    m_list = platform::ListView::Create(GetHandle());
    if (!m_list)
        return;
    std::shared_ptr<bool> alive = m_alive;
    auto later = [alive](std::function<void()> work) {
        if (CUIApplication* app = CUIApplication::Get())
            app->PostCall([alive, work = std::move(work)] {
                if (*alive)
                    work();
            });
    };
    platform::ListView::Callbacks callbacks;
    callbacks.pressed = [this, later](int row, CUIPoint inImage) {
        later([this, row, inImage] { OnPressed(row, inImage); });
    };
    callbacks.activated = [this, later](int row) {
        later([this, row] {
            if (row >= 0 && size_t(row) < m_model.GetEntries().size() &&
                !m_model.GetEntries()[size_t(row)].IsPicture() && m_callbacks.open)
                m_callbacks.open(size_t(row));
        });
    };
    callbacks.selected = [this, later](int) {
        later([this] {
            if (m_callbacks.selectionChanged)
                m_callbacks.selectionChanged();
        });
    };
    m_list->SetCallbacks(std::move(callbacks));
    m_list->SetColumns({{platform::LoadText(kStringName), 194},
                        {platform::LoadText(kStringSize), 66},
                        {platform::LoadText(kStringModified), 130}});
    m_list->SetSize({GetClientRect().Width(), GetClientRect().Height()});
}

void CPictureDetailsView::Reset() {
    if (!m_list)
        return;
    const std::vector<CPictureBrowserEntry>& entries = m_model.GetEntries();
    std::vector<platform::ListViewImage> images(2);
    std::vector<platform::ListViewRow> rows;
    bool pictureImages = false;
    for (const CPictureBrowserEntry& entry : entries) {
        platform::ListViewRow row;
        if (entry.IsPicture()) {
            if (!pictureImages) {
                // Every picture row shares the two images made from the first picture's icon.
                const CUIImage icon = MakeShellIconImage(entry.path, kSmallIconSize, kWhite);
                images[kImageTicked] = MakeRowImage(m_ticked ? &*m_ticked : nullptr, icon);
                images[kImageUnticked] = MakeRowImage(m_unticked ? &*m_unticked : nullptr, icon);
                pictureImages = true;
            }
            row.image = entry.kind == PictureEntryKind::Ticked ? kImageTicked : kImageUnticked;
        } else {
            row.image = static_cast<int>(images.size());
            images.push_back(MakeRowImage(nullptr, MakeShellIconImage(entry.path, kSmallIconSize, kWhite)));
        }
        row.texts = {entry.name, entry.sizeText, entry.modifiedText};
        rows.push_back(std::move(row));
    }
    m_list->SetImages(images);
    m_list->SetRows(rows);
}

void CPictureDetailsView::UpdateTicks() {
    if (!m_list)
        return;
    const std::vector<CPictureBrowserEntry>& entries = m_model.GetEntries();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].IsPicture())
            m_list->SetRowImage(static_cast<int>(i),
                                entries[i].kind == PictureEntryKind::Ticked ? kImageTicked : kImageUnticked);
    }
}

std::optional<size_t> CPictureDetailsView::GetSelection() const {
    const int row = m_list ? m_list->GetSelection() : -1;
    if (row < 0)
        return std::nullopt;
    return size_t(row);
}

void CPictureDetailsView::OnPressed(int row, CUIPoint inImage) {
    if (row < 0 || size_t(row) >= m_model.GetEntries().size())
        return;
    const CUIRect tick = CUIRect::FromSize(kTickAt.x, kTickAt.y, 13, 13);
    if (tick.Contains(inImage) && m_model.ToggleTick(size_t(row)))
        UpdateTicks();
}

bool CPictureDetailsView::HandleMessage(const ui::Message& message, ui::LResult&) {
    switch (message.message) {
    case ui::kWmSize:
        if (m_list)
            m_list->SetSize({ui::GetXLParam(message.lParam), ui::GetYLParam(message.lParam)});
        return true;
    default:
        return false;
    }
}
