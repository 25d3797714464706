// "Choose Pictures": the control's own modal dialog for choosing pictures. A toolbar (back, up,
// open, the view switch and the folder chooser), the Shortcuts bar, the hint, the thumbnails or the
// details of the current folder, and the bottom row ("all", "none", "Add selected pictures",
// "Cancel"). Run returns OK with the ticked pictures and the last folder shown, or Cancel.
//
// Ownership: the panes, views and buttons are the dialog's and live as long as it does.
// Threads: the UI thread only.
#pragma once

#include "ui/dialog.h"
#include "ui/font.h"
#include "views/picture_browser_model.h"
#include "views/picture_browser_pane.h"
#include "views/picture_details_view.h"
#include "views/picture_shortcuts_bar.h"
#include "views/picture_thumbnail_view.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class CPictureBrowserDialog : public CUIDialog {
public:
    static constexpr uint32_t kTemplateId = 150;
    static constexpr uint32_t kStringNoPicturesText = 10096;
    static constexpr uint32_t kStringNoPicturesCaption = 10097;
    static constexpr uint32_t kStringCurrentFolder = 10100;
    static constexpr uint32_t kStringThumbnail = 10104;
    static constexpr uint32_t kStringDetails = 10105;
    // The view-switch menu's items.
    static constexpr int kMenuThumbnail = 1;
    static constexpr int kMenuDetails = 2;

    enum class ViewMode { Thumbnails, Details };

    // Fixed heights of the strips, in pixels.
    static constexpr int kToolbarHeight = 50;
    static constexpr int kHintHeight =
        40; // two lines of the dialog font, the longest hint at the smallest width
    static constexpr int kBottomHeight = 44;

    CPictureBrowserDialog();
    ~CPictureBrowserDialog() override;

    // Modal over `owner`. A start folder that is empty or no longer a folder opens My Pictures, else
    // the home folder. ui::kIdOk or ui::kIdCancel.
    int Run(CUIWindow* owner, const std::string& startFolder);
    const std::vector<std::string>& GetChosenPaths() const { return m_chosen; }
    // The folder shown when the dialog ended (empty when it was the recent folders).
    std::string GetLastFolder() const;

    // Commands, as the buttons run them.
    void Back();
    void Up();
    void OpenSelected();
    void ShowViewMenu();
    void SetViewMode(ViewMode mode);
    void ChooseFolder();
    void TickAll(bool ticked);
    void AddSelected();
    void Cancel();
    void NavigateTo(const std::string& location);

    ViewMode GetViewMode() const { return m_mode; }
    const CPictureBrowserModel& GetModel() const { return m_model; }
    CPictureThumbnailView& GetThumbnails() { return m_thumbnails; }
    CPictureDetailsView& GetDetails() { return m_details; }
    CPictureShortcutsBar& GetShortcuts() { return *m_shortcuts; }
    // The scale of the toolbar's positions: the screen's logical pixels per inch over 96.
    double GetScale() const { return m_scale; }
    // Where the toolbar's parts are, in the dialog's client coordinates.
    CUIRect GetButtonRect(const CPictureStackButton& button, const CPicturePane& pane) const;
    CPictureStackButton& GetBackButton() { return m_back; }
    CPictureStackButton& GetUpButton() { return m_up; }
    CPictureStackButton& GetOpenButton() { return m_open; }
    CPictureStackButton& GetViewButton() {
        return m_mode == ViewMode::Thumbnails ? m_viewThumbnails : m_viewDetails;
    }
    CPictureStackButton& GetAllButton() { return m_all; }
    CPictureStackButton& GetNoneButton() { return m_none; }
    CPictureStackButton& GetAddButton() { return m_add; }
    CPictureStackButton& GetCancelButton() { return m_cancel; }
    CPicturePane& GetToolbar() { return m_toolbar; }
    CPicturePane& GetBottomBar() { return m_bottom; }
    CUIRect GetChooserRect() const { return m_chooser; }

    bool HandleMessage(const ui::Message& message, ui::LResult& result) override;

protected:
    void OnInit() override;
    void OnEnd(int code) override;

private:
    int Scaled(int x) const { return static_cast<int>(x * m_scale + 0.5); }
    void Layout();
    void AfterNavigation();
    void UpdateButtons();
    void PaintToolbar(CUIDrawableRep& dc, const CUIRect& client);
    void PaintHint(CUIDrawableRep& dc, const CUIRect& client);
    void PaintBottom(CUIDrawableRep& dc, const CUIRect& client);
    std::optional<size_t> GetSelectedEntry() const;

    CPictureBrowserModel m_model;
    std::string m_startFolder;
    std::vector<std::string> m_chosen;
    ViewMode m_mode = ViewMode::Thumbnails;
    double m_scale = 1.0;
    CUIFont m_systemFont;

    CPictureStackButton m_back, m_up, m_open, m_viewThumbnails, m_viewDetails;
    CPictureStackButton m_all, m_none, m_add, m_cancel;
    std::optional<CUIImage> m_separator, m_arrow, m_selectLabel, m_bottomSeparator;
    CUIRect m_chooser; // the folder chooser's box in the toolbar

    CPicturePane m_toolbar;
    CPicturePane m_hint;
    CPicturePane m_bottom;
    std::unique_ptr<CPictureShortcutsBar> m_shortcuts;
    CPictureThumbnailView m_thumbnails;
    CPictureDetailsView m_details;
};
