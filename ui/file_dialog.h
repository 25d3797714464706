// The open-file and folder choosers, and the clipboard's text.
//
// Threads: the UI thread only.
#pragma once

#include "platform/window_system.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class CUIWindow;

// Filter pairs as the string table keeps them: name, patterns, name, patterns..., separated by new
// lines (or "|"). A name without patterns at the end is left out.
std::vector<std::pair<std::string, std::string>> ParseFileFilters(const std::string& text);

class CUIFileDialog {
public:
    explicit CUIFileDialog(std::string title) { m_options.title = std::move(title); }

    void SetStartFolder(const std::string& folder) { m_options.startFolder = folder; }
    void SetFilters(std::vector<std::pair<std::string, std::string>> filters) {
        m_options.filters = std::move(filters);
    }
    void SetMultipleSelection(bool multiple) { m_options.multiple = multiple; }
    void SetChooseFolders(bool folders) { m_options.folders = folders; }
    // A line above the choices, and a status line that follows the selected folder.
    void SetPrompt(std::string prompt) { m_options.prompt = std::move(prompt); }
    void SetStatusText(std::function<std::string(const std::string& folder)> statusText) {
        m_options.statusText = std::move(statusText);
    }
    const platform::FileChooserOptions& GetOptions() const { return m_options; }

    // Runs the chooser modally, owned by `owner` (may be null): the chosen paths, empty on Cancel.
    std::vector<std::string> Run(CUIWindow* owner) const;

private:
    platform::FileChooserOptions m_options;
};

namespace CUIClipboard {
void SetText(const std::string& text);
std::optional<std::string> GetText();
} // namespace CUIClipboard
