#include "views/properties_dialog.h"

#include "foundation/path.h"
#include "foundation/string_format.h"
#include "pictures/image_properties.h"
#include "pictures/size_text.h"
#include "platform/resources.h"
#include "ui/messages.h"

#include <stdexcept>

namespace {

constexpr uint32_t kStringMultipleFiles = 10011;
constexpr uint32_t kStringMultipleLocations = 10012;
constexpr uint32_t kStringMultipleTypes = 10013;
constexpr uint32_t kStringTimeFormat = 10014;
constexpr uint32_t kStringSeveralTitle = 10024; // "%1, ... Properties"

// The user's locale for digit grouping; the classic one when the environment names none that exists.
std::locale UserLocale() {
    try {
        return std::locale("");
    } catch (const std::runtime_error&) {
        return std::locale::classic();
    }
}

} // namespace

CPropertiesRecord CPropertiesRecord::FromFile(const std::string& path) {
    CImageProperties::Info info(path);
    CPropertiesRecord record;
    record.name = info.name;
    record.folder = info.folder;
    record.size = info.size;
    record.modified = info.modified;
    record.type = info.type;
    record.width = info.width;
    record.height = info.height;
    record.bitsPerPixel = info.bitsPerPixel;
    record.date = info.date;
    record.exif = info.properties;
    return record;
}

void MergeProperties(CPropertiesRecord& into, const CPropertiesRecord& other) {
    into.name = platform::LoadText(kStringMultipleFiles);
    if (into.folder != other.folder)
        into.folder = platform::LoadText(kStringMultipleLocations);
    into.size += other.size;
    if (into.modified != other.modified)
        into.modified = -1;
    if (into.type != other.type)
        into.type = platform::LoadText(kStringMultipleTypes);
    if (into.width != other.width || into.height != other.height)
        into.width = into.height = 0;
    if (into.bitsPerPixel != other.bitsPerPixel)
        into.bitsPerPixel = 0;
    if (into.date != other.date)
        into.date = -1;
    for (auto it = into.exif.begin(); it != into.exif.end();) {
        auto found = other.exif.find(it->first);
        if (found == other.exif.end() || found->second != it->second)
            it = into.exif.erase(it);
        else
            ++it;
    }
}

std::string FormatPropertiesTime(int64_t time) {
    if (time == -1)
        return "";
    std::string format = platform::LoadText(kStringTimeFormat);
    // "%#c" asks for the long date and time; strftime has no such flag, so it is spelt out.
    for (size_t at = format.find("%#c"); at != std::string::npos; at = format.find("%#c", at))
        format.replace(at, 3, "%A, %B %d, %Y %X");
    return FormatTime(time, format);
}

CPropertiesTexts MakePropertiesTexts(const std::vector<CPropertiesRecord>& records,
                                     const std::string& titleTemplate, const std::locale& locale) {
    CPropertiesTexts texts;
    if (records.empty()) {
        texts.title = SubstituteArgs(titleTemplate, {""});
        return texts;
    }
    CPropertiesRecord merged = records.front();
    for (size_t i = 1; i < records.size(); ++i)
        MergeProperties(merged, records[i]);
    texts.title = records.size() == 1
                      ? SubstituteArgs(titleTemplate, {merged.name})
                      : SubstituteArgs(platform::LoadText(kStringSeveralTitle), {records.front().name});
    texts.name = merged.name;
    texts.location = merged.folder;
    texts.size = FormatSizeWithByteCount(merged.size, locale);
    texts.modified = FormatPropertiesTime(merged.modified);
    texts.type = merged.type;
    texts.imageSize = FormatDimensions(merged.width, merged.height);
    texts.colors = FormatColourDepth(merged.bitsPerPixel);
    texts.date = FormatPropertiesTime(merged.date);
    for (const auto& [label, value] : merged.exif)
        texts.details.append(label).append(": ").append(value).append("\r\n");
    return texts;
}

void CPropertiesDialog::ShowProperties(CUIWindow* owner, const std::vector<std::string>& paths) {
    if (GetHandle() == nullptr) {
        Create(kTemplateId, owner);
        m_titleTemplate = GetText();
    }
    std::vector<CPropertiesRecord> records;
    for (const std::string& path : paths) {
        try {
            records.push_back(CPropertiesRecord::FromFile(path));
        } catch (const CImageProperties::Info::NotAnImage&) {
            // A file that is gone or unreadable has no properties to add.
        }
    }
    CPropertiesTexts texts = MakePropertiesTexts(records, m_titleTemplate, UserLocale());
    SetText(texts.title);
    SetItemText(kName, texts.name);
    SetItemText(kLocation, texts.location);
    SetItemText(kSize, texts.size);
    SetItemText(kModified, texts.modified);
    SetItemText(kType, texts.type);
    SetItemText(kImageSize, texts.imageSize);
    SetItemText(kColors, texts.colors);
    SetItemText(kDate, texts.date);
    SetItemText(kDetails, texts.details);
    Show(true);
}

bool CPropertiesDialog::OnCommand(int id, int notification) {
    // Modeless and reused: closing only hides it.
    if (notification == ui::kBnClicked && (id == ui::kIdOk || id == ui::kIdCancel)) {
        Show(false);
        return true;
    }
    return CUIDialog::OnCommand(id, notification);
}
