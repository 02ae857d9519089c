#include "export/M_langload.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kLongestLine = 75;

} // namespace

std::string EncodeBase64Lines(const uint8_t* bytes, size_t length)
{
    std::string text;
    text.reserve(length / 3 * 4 + length / 57 * 2 + 6);
    size_t onLine = 0;
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6)
            text += kAlphabet[(group >> shift) & 0x3F];
        onLine += 4;
        if (onLine > kLongestLine) {
            text += "\r\n";
            onLine = 0;
        }
    }
    const size_t left = length - i;
    if (left > 0) {
        const uint32_t group = (uint32_t{bytes[i]} << 16) | (left == 2 ? uint32_t{bytes[i + 1]} << 8 : 0u);
        text += kAlphabet[(group >> 18) & 0x3F];
        text += kAlphabet[(group >> 12) & 0x3F];
        text += left == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
        text += '=';
    }
    return text;
}
