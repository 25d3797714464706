// The picture browser's details: the native list control with the columns "Name" (194 pixels), "Size"
// (66) and "Modified" (the rest, at least 130), and a 45 x 21 picture in front of each row on white:
// for pictures the tick box at (5, 5) and the file's small icon at (23, 2), for folders only the icon.
// The two picture images (ticked, not ticked) are made once, from the first picture's icon, and shared
// by every picture row; each folder has its own.
//
// Ownership: the model is borrowed from the dialog; the native list belongs to this view's window.
// Threads: the UI thread only; the native control's callbacks are posted over to the pump.
#pragma once

#include "platform/list_view.h"
#include "ui/image.h"
#include "ui/window.h"
#include "views/picture_browser_model.h"

#include <functional>
#include <memory>
#include <optional>

class CPictureDetailsView : public CUIWindow {
public:
    static constexpr uint32_t kStringName = 10101;
    static constexpr uint32_t kStringSize = 10102;
    static constexpr uint32_t kStringModified = 10103;
    static constexpr CUISize kImageSize{45, 21};
    static constexpr CUIPoint kTickAt{5, 5};
    static constexpr CUIPoint kIconAt{23, 2};
    static constexpr int kSmallIconSize = 16;

    struct Callbacks {
        std::function<void(size_t index)> open;
        std::function<void()> selectionChanged;
    };

    CPictureDetailsView(CPictureBrowserModel& model, Callbacks callbacks);
    ~CPictureDetailsView() override;

    // Makes the native list; call once the window exists.
    void CreateList();
    // After the model moved to another folder: the rows and their images are made anew.
    void Reset();
    // After ticks changed in the model.
    void UpdateTicks();
    std::optional<size_t> GetSelection() const;
    platform::ListView* GetList() const { return m_list.get(); }

    // A row's image: on white, the tick box (for pictures) and the icon. Shared with the tests.
    static platform::ListViewImage MakeRowImage(const CUIImage* tickBox, const CUIImage& icon);

    bool HandleMessage(const ui::Message& message, ui::LResult& result) override;

private:
    void OnPressed(int row, CUIPoint inImage);

    CPictureBrowserModel& m_model;
    Callbacks m_callbacks;
    std::unique_ptr<platform::ListView> m_list;
    std::optional<CUIImage> m_ticked, m_unticked;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
