#include "net/base64.h"

#include "net/network_exception.h"

#include <array>
#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int8_t kInvalid = -1;
constexpr size_t kTableSize = 123; // one past "z", the highest character of the alphabet

constexpr std::array<int8_t, kTableSize> MakeDecodeTable() {
    std::array<int8_t, kTableSize> table{};
    for (auto& entry : table)
        entry = kInvalid;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    return table;
}
constexpr std::array<int8_t, kTableSize> kDecodeTable = MakeDecodeTable();

// The six bits of a character of the alphabet, or kInvalid.
int SextetOf(char c) {
    auto code = static_cast<unsigned char>(c);
    return code < kTableSize ? kDecodeTable[code] : kInvalid;
}

} // namespace

std::string Base64Encode(std::string_view bytes) {
    std::string result;
    result.reserve(4 * ((bytes.size() + 2) / 3));
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                         static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                         static_cast<unsigned char>(bytes[i + 2]);
        result += kAlphabet[(group >> 18) & 0x3F];
        result += kAlphabet[(group >> 12) & 0x3F];
        result += kAlphabet[(group >> 6) & 0x3F];
        result += kAlphabet[group & 0x3F];
    }
    size_t rest = bytes.size() - i;
    if (rest == 0)
        return result;
    uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (rest == 2)
        group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    result += kAlphabet[(group >> 18) & 0x3F];
    result += kAlphabet[(group >> 12) & 0x3F];
    result += rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
    result += '=';
    return result;
}

std::string Base64Decode(std::string_view text) {
    auto reject = [&]() { return CInternetBadEncodingException(std::string(text)); };
    if (text.size() % 4 != 0)
        throw reject();
    std::string result;
    if (text.empty())
        return result;
    result.reserve(3 * (text.size() / 4));
    const size_t last = text.size() - 4;
    for (size_t i = 0; i <= last; i += 4) {
        // Padding is allowed in the last two places of the last quartet only.
        size_t padding = 0;
        if (i == last && text[i + 3] == '=')
            padding = text[i + 2] == '=' ? 2 : 1;
        else if (i == last && text[i + 2] == '=')
            throw reject(); // "x=" followed by a data character
        uint32_t group = 0;
        for (size_t k = 0; k < 4; ++k) {
            int sextet = 0; // padding positions decode as zero bits
            if (k < 4 - padding) {
                sextet = SextetOf(text[i + k]);
                if (sextet == kInvalid)
                    throw reject();
            }
            group = group << 6 | static_cast<uint32_t>(sextet);
        }
        result += static_cast<char>((group >> 16) & 0xFF);
        if (padding < 2)
            result += static_cast<char>((group >> 8) & 0xFF);
        if (padding < 1)
            result += static_cast<char>(group & 0xFF);
    }
    return result;
}
