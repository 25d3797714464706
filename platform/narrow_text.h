// Narrow text at the platform boundary. Every std::string of text in the system is narrow text: UTF-8
// on Linux, the ANSI code page on Windows. Text that arrives in another form (UTF-16 from a file
// format, ANSI bytes written on some Windows machine) is converted here, so that the layers above
// never need to know which system they run on.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// UTF-16 text as narrow text. A lone surrogate becomes U+FFFD (on Windows, characters the code page
// lacks become its default character).
std::string NarrowFromUtf16(std::u16string_view text);

// Bytes in the ANSI code page of the Windows machine that wrote them, which is not known: here they
// are kept when they are valid UTF-8 and otherwise read as Windows-1252; on Windows they are the
// local code page already and are kept as they are.
std::string NarrowFromWindowsAnsi(std::string_view bytes);

} // namespace platform
