// Text building shared by every layer: placeholder substitution for catalogue and resource texts
// ("%1" to "%9"), and printf-style formatting into a std::string.
#pragma once

#include "foundation/compiler.h"

#include <initializer_list>
#include <string>
#include <string_view>

// Puts the arguments into the placeholders %1..%9 of a template. The template is scanned once from
// the left: a "%" followed by a digit 1-9 is a placeholder; the character after every "%" is skipped,
// so "%%1" stays as it is; a "%" at the very end stays. Placeholders are replaced from the last to the
// first and inserted text is never scanned again. A placeholder whose number is above the number of
// arguments given is left as it stands.
std::string SubstituteArgs(std::string_view tmpl, std::initializer_list<std::string_view> args);

// printf-style formatting into a string of whatever length the result needs.
std::string FormatString(const char* format, ...) PX_PRINTF_FORMAT(1, 2);
