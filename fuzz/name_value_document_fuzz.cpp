// The preferences document and the preference checks on arbitrary lines "<op><path>=<text>".
#include "foundation/exception.h"
#include "foundation/preferences.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CNameValueDocument document;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (!input.empty()) {
        std::string_view line = input.substr(0, input.find('\n'));
        input.remove_prefix(std::min(input.size(), line.size() + 1));
        if (line.empty())
            continue;
        std::string_view rest = line.substr(1);
        std::string_view path = rest.substr(0, rest.find('='));
        std::string_view text = rest.substr(std::min(rest.size(), path.size() + 1));
        try {
            switch (line[0] % 6) {
            case 0:
                document.SetValue(path, text);
                break;
            case 1:
                document.GetValue(path);
                document.HasValue(path);
                break;
            case 2:
                document.RemoveValue(path);
                break;
            case 3:
                document.AddNode(path).SetNamedValue(text, path);
                break;
            case 4:
                SetPreference(document, path, text);
                UnsetPreference(document, text);
                break;
            default:
                ListPreferences(document);
                GetColumnWidth(document, UploadListColumn::Size);
                break;
            }
        } catch (const CException&) {
        }
    }
    CNameValueDocument copy = document;
    return copy == document ? 0 : 1;
}
