// Catalogues of KEY=Text entries, each with optional named values, loaded from the module's
// message-table resources: the error texts (110), the WinSock error texts (109) and the EXIF labels
// (107). Two process-wide slots hold the error and WinSock catalogues; they are installed and released
// by the thread that creates and destroys the control, and only read by every other thread.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CMessageTable {
public:
    // Removes any values recorded under `key`, then sets its entry text.
    void SetText(const std::string& key, const std::string& text);
    void SetValueText(const std::string& key, const std::string& valueKey, const std::string& text);

    bool Contains(const std::string& key) const;

    // Replaces `key` by its entry text, or by the entry text of the empty key; false (and `key`
    // unchanged) when neither exists.
    bool Lookup(std::string& key) const;

    // Turns a key and a raw value into a label (in `key`) and a value text (in `value`): the value's
    // own name, else the template recorded for the empty value key, else the raw value; "%1" in the
    // label is the key and "%1" in the value text is the raw value. False (both unchanged) when
    // neither the key nor the empty key has an entry.
    bool LookupValue(std::string& key, std::string& value) const;

    // The (value key, text) pairs recorded under `key`, in ascending byte order of the value keys.
    std::vector<std::pair<std::string, std::string>> GetValues(const std::string& key) const;

private:
    std::map<std::string, std::string> m_texts;
    std::map<std::string, std::map<std::string, std::string>> m_values;
};

// Adds the lines of one entry's text to `table`: CR LF separated KEY=Text lines, the first giving the
// entry, the later ones its values; lines without "=" are ignored.
void ParseMessageEntry(CMessageTable& table, std::string_view text);

// Loads message-table resource `id` of the installed resource module; null when it is missing or
// anything in it cannot be read (never throws).
std::unique_ptr<CMessageTable> LoadMessageTable(unsigned id);

// Parses a message table in its binary resource form; null when the block is malformed.
std::unique_ptr<CMessageTable> ParseMessageTableResource(const unsigned char* data, size_t size);

// Installing deletes the catalogue installed before; installing null releases it.
void SetErrorMessageTable(std::unique_ptr<CMessageTable> table);
const CMessageTable* GetErrorMessageTable();
void SetSocketMessageTable(std::unique_ptr<CMessageTable> table);
const CMessageTable* GetSocketMessageTable();

// Message-table resource numbers.
constexpr unsigned kExifMessageTable = 107;
constexpr unsigned kSocketMessageTable = 109;
constexpr unsigned kErrorMessageTable = 110;
