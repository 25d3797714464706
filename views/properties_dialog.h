// The properties of the selected pictures: one record per picture, merged into one for a multiple
// selection, turned into the texts of the dialog's fields, and the modeless dialog (template 103) that
// shows them. The upload list keeps one dialog and shows it again for each new selection.
//
// Threads: the UI thread only.
#pragma once

#include "ui/dialog.h"

#include <cstdint>
#include <locale>
#include <map>
#include <string>
#include <vector>

struct CPropertiesRecord {
    std::string name;
    std::string folder;
    uint64_t size = 0;
    int64_t modified = -1; // seconds since 1970, -1 for none
    std::string type;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;
    int64_t date = -1;
    std::map<std::string, std::string> exif; // label -> value text

    // Reads the picture file; throws CImageProperties::Info::NotAnImage.
    static CPropertiesRecord FromFile(const std::string& path);
};

// Merges `other` into `into`: what differs becomes "Multiple ..." or unknown, sizes add up, and only
// the EXIF entries both share with the same value stay.
void MergeProperties(CPropertiesRecord& into, const CPropertiesRecord& other);

struct CPropertiesTexts {
    std::string title;
    std::string name;
    std::string location;
    std::string size;
    std::string modified;
    std::string type;
    std::string imageSize;
    std::string colors;
    std::string date;
    std::string details; // "label: value\r\n" per EXIF entry
};

// The dialog's texts for the records of the selected pictures (none gives empty fields); `titleTemplate`
// is the template's caption ("%1 Properties").
CPropertiesTexts MakePropertiesTexts(const std::vector<CPropertiesRecord>& records, const std::string& titleTemplate,
                                     const std::locale& locale);

// A file time in the long date and time format, "" for -1.
std::string FormatPropertiesTime(int64_t time);

class CPropertiesDialog : public CUIDialog {
public:
    static constexpr uint32_t kTemplateId = 103;
    static constexpr int kName = 1007, kLocation = 1008, kSize = 1009, kModified = 1010, kType = 1011,
                         kImageSize = 1012, kColors = 1013, kDate = 1015, kDetails = 1005;

    // Fills the dialog from the pictures at `paths` (files that are no pictures are left out) and shows
    // it modeless; the dialog is made on first use and reused afterwards.
    void ShowProperties(CUIWindow* owner, const std::vector<std::string>& paths);

protected:
    bool OnCommand(int id, int notification) override;

private:
    std::string m_titleTemplate;
};
