// Base64 with the standard alphabet and "=" padding, without line breaks, for the credentials of the
// Basic and NTLM authentication headers.
#pragma once

#include <string>
#include <string_view>

// 4 * ((n + 2) / 3) characters for n bytes.
std::string Base64Encode(std::string_view bytes);

// The bytes that `text` encodes. Raises CInternetBadEncodingException, with the whole text, for a
// length that is not a multiple of 4, a character outside the alphabet (including "=" anywhere but in
// the last two places), and a third "=" that is not followed by a fourth. Bits that padding leaves
// over are ignored.
std::string Base64Decode(std::string_view text);
