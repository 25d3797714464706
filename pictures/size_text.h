// Byte counts as people read them: the size text of the upload list, the picture browser and the
// properties dialog ("500 ", "1.50KB", "1.17MB"), and the byte count with the locale's digit grouping.
// The texts come from the module's string table.
#pragma once

#include <cstdint>
#include <locale>
#include <string>

// A number and a unit: up to three divisions by 1024 (KB, MB, GB); no decimals from 100 up and for
// counts below 1000, else one decimal from 10 up and two below, truncated rather than rounded.
std::string FormatSizeText(uint64_t bytes);

// The count in decimal, its digits grouped as `locale` groups them ("1,234,567" in English).
std::string FormatByteCount(uint64_t bytes, const std::locale& locale);

// The properties dialog's size field: "1.17MB (1,234,567 bytes)".
std::string FormatSizeWithByteCount(uint64_t bytes, const std::locale& locale);
