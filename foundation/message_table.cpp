#include "foundation/message_table.h"

#include "foundation/string_format.h"
#include "platform/resources.h"

#include <atomic>
#include <cstdint>

namespace {

// Resolves the escapes of a catalogue text: \n is a line break (CR LF), \\ a backslash, \% a percent
// sign, a backslash before any other character stands for that character, and a trailing one is
// dropped. Output is built separately, so a produced backslash is never read again.
std::string ResolveEscapes(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            result += text[i];
            continue;
        }
        if (++i == text.size())
            break;
        if (text[i] == 'n')
            result += "\r\n";
        else
            result += text[i];
    }
    return result;
}

// The process-wide catalogues. Readers on other threads take the raw pointer without a lock; the
// owner replaces a catalogue only while no other thread uses it (start-up and tear-down).
std::atomic<CMessageTable*> g_errorTable{nullptr};
std::atomic<CMessageTable*> g_socketTable{nullptr};

void Install(std::atomic<CMessageTable*>& slot, std::unique_ptr<CMessageTable> table) {
    delete slot.exchange(table.release());
}

} // namespace

void CMessageTable::SetText(const std::string& key, const std::string& text) {
    m_values.erase(key);
    m_texts[key] = text;
}

void CMessageTable::SetValueText(const std::string& key, const std::string& valueKey,
                                 const std::string& text) {
    m_values[key][valueKey] = text;
}

bool CMessageTable::Contains(const std::string& key) const {
    return m_texts.count(key) != 0;
}

bool CMessageTable::Lookup(std::string& key) const {
    auto it = m_texts.find(key);
    if (it == m_texts.end())
        it = m_texts.find(std::string());
    if (it == m_texts.end())
        return false;
    key = it->second;
    return true;
}

bool CMessageTable::LookupValue(std::string& key, std::string& value) const {
    std::string label = key;
    if (!Lookup(label))
        return false;

    // Only a template from the catalogue is filled in: a raw value that stands for itself is shown as
    // it is, even when it happens to hold "%1" (a picture's description, say).
    auto values = m_values.find(key);
    if (values != m_values.end()) {
        auto named = values->second.find(value);
        if (named == values->second.end())
            named = values->second.find(std::string());
        if (named != values->second.end())
            value = SubstituteArgs(named->second, {value});
    }
    key = SubstituteArgs(label, {key});
    return true;
}

std::vector<std::pair<std::string, std::string>> CMessageTable::GetValues(const std::string& key) const {
    auto values = m_values.find(key);
    if (values == m_values.end())
        return {};
    return {values->second.begin(), values->second.end()};
}

void ParseMessageEntry(CMessageTable& table, std::string_view text) {
    const size_t n = text.size();
    bool haveEntry = false;
    std::string entryKey;
    // A last line of fewer than three characters cannot hold KEY=Text with a CR LF and is ignored.
    for (size_t pos = 0; pos + 2 < n;) {
        size_t lineEnd = text.find("\r\n", pos);
        if (lineEnd == std::string_view::npos)
            lineEnd = n;
        size_t equals = text.find('=', pos);
        if (equals != std::string_view::npos && equals < lineEnd) {
            std::string key(text.substr(pos, equals - pos));
            std::string value = ResolveEscapes(text.substr(equals + 1, lineEnd - equals - 1));
            if (!haveEntry) {
                table.SetText(key, value);
                entryKey = key;
                haveEntry = true;
            } else {
                table.SetValueText(entryKey, key, value);
            }
        }
        pos = lineEnd + 2;
    }
}

namespace {

// Bounds-checked little-endian reads over the resource block.
class CResourceReader {
public:
    CResourceReader(const unsigned char* data, size_t size) : m_data(data), m_size(size) {}

    bool U16(size_t offset, uint16_t& out) const {
        if (offset > m_size || m_size - offset < 2)
            return false;
        out = static_cast<uint16_t>(m_data[offset] | m_data[offset + 1] << 8);
        return true;
    }

    bool U32(size_t offset, uint32_t& out) const {
        if (offset > m_size || m_size - offset < 4)
            return false;
        out = static_cast<uint32_t>(m_data[offset]) | static_cast<uint32_t>(m_data[offset + 1]) << 8 |
              static_cast<uint32_t>(m_data[offset + 2]) << 16 |
              static_cast<uint32_t>(m_data[offset + 3]) << 24;
        return true;
    }

    // The text of the entry whose body is [begin, end): up to its terminating NUL, which must lie
    // within the entry. UTF-16LE is narrowed; every stored text is ASCII, and a code unit beyond one
    // byte becomes "?".
    bool Text(size_t begin, size_t end, bool wide, std::string& out) const {
        out.clear();
        if (wide) {
            for (size_t i = begin; i + 1 < end; i += 2) {
                uint16_t unit = static_cast<uint16_t>(m_data[i] | m_data[i + 1] << 8);
                if (unit == 0)
                    return true;
                out += unit < 0x100 ? static_cast<char>(unit) : '?';
            }
            return false;
        }
        for (size_t i = begin; i < end; ++i) {
            if (m_data[i] == 0)
                return true;
            out += static_cast<char>(m_data[i]);
        }
        return false;
    }

    size_t Size() const { return m_size; }

private:
    const unsigned char* m_data;
    size_t m_size;
};

constexpr size_t kEntryHeader = 4;  // u16 length, u16 flags
constexpr size_t kBlockRecord = 12; // u32 lowest id, u32 highest id, u32 offset
constexpr uint16_t kUnicodeFlag = 1;

} // namespace

std::unique_ptr<CMessageTable> ParseMessageTableResource(const unsigned char* data, size_t size) {
    CResourceReader reader(data, size);
    uint32_t blockCount = 0;
    if (!reader.U32(0, blockCount) || blockCount > (size - 4) / kBlockRecord)
        return nullptr;

    auto table = std::make_unique<CMessageTable>();
    std::string text;
    for (uint32_t block = 0; block < blockCount; ++block) {
        uint32_t lowest = 0, highest = 0, offset = 0;
        size_t record = 4 + block * kBlockRecord;
        if (!reader.U32(record, lowest) || !reader.U32(record + 4, highest) ||
            !reader.U32(record + 8, offset))
            return nullptr;
        if (highest < lowest)
            return nullptr;
        size_t entry = offset;
        // Each id has an entry of at least its header, so a count beyond the block cannot be genuine.
        if (highest - lowest >= size / kEntryHeader)
            return nullptr;
        for (uint64_t id = lowest; id <= highest; ++id) {
            uint16_t length = 0, flags = 0;
            if (!reader.U16(entry, length) || !reader.U16(entry + 2, flags))
                return nullptr;
            if (length < kEntryHeader || length > size - entry)
                return nullptr;
            if (!reader.Text(entry + kEntryHeader, entry + length, flags == kUnicodeFlag, text))
                return nullptr;
            ParseMessageEntry(*table, text);
            entry += length;
        }
    }
    return table;
}

std::unique_ptr<CMessageTable> LoadMessageTable(unsigned id) {
    auto resource = platform::FindModuleResource(platform::ResourceType::RcData, id);
    if (!resource)
        return nullptr;
    try {
        return ParseMessageTableResource(resource->data(), resource->size());
    } catch (...) {
        return nullptr; // out of memory while filling the catalogue: no catalogue
    }
}

void SetErrorMessageTable(std::unique_ptr<CMessageTable> table) {
    Install(g_errorTable, std::move(table));
}
const CMessageTable* GetErrorMessageTable() {
    return g_errorTable;
}
void SetSocketMessageTable(std::unique_ptr<CMessageTable> table) {
    Install(g_socketTable, std::move(table));
}
const CMessageTable* GetSocketMessageTable() {
    return g_socketTable;
}
