#include "rdm/text_codec.h"

#include <cstdint>
#include <cstdio>

namespace {

// Code points of bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order.
const char16_t kHigh[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

char32_t Decode(uint8_t b)
{
    if (b < 0x80)
        return b;
    if (b >= 0xC0)
        return char32_t(0x0410 + (b - 0xC0));
    return kHigh[b - 0x80];
}

int Encode(char32_t c)
{
    if (c < 0x80)
        return int(c);
    if (c >= 0x0410 && c <= 0x044F)
        return int(0xC0 + (c - 0x0410));
    for (int i = 0; i < 64; ++i)
        if (kHigh[i] == c)
            return 0x80 + i;
    return -1;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

} // namespace

std::string Cp1251ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char b : bytes)
        AppendUtf8(out, Decode(uint8_t(b)));
    return out;
}

std::string Utf8ToCp1251(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        uint8_t b = uint8_t(text[i]);
        char32_t c = 0;
        int extra = 0;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            extra = 3;
        } else {
            out += '?';
            ++i;
            continue;
        }
        ++i;
        bool valid = true;
        for (int k = 0; k < extra; ++k, ++i) {
            if (i >= text.size() || (uint8_t(text[i]) & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            c = (c << 6) | (uint8_t(text[i]) & 0x3F);
        }
        int e = valid ? Encode(c) : -1;
        out += e < 0 ? '?' : char(e);
    }
    return out;
}

std::string DeviceText(const uint8_t* bytes, size_t count)
{
    size_t length = 0;
    while (length < count && bytes[length] != 0)
        ++length;
    return Cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(bytes), length));
}

std::string EscapeControls(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    char esc[8];
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        unsigned code = 0x100;  // none
        size_t skip = 0;
        if (c < 0x20 || c == 0x7F) {
            code = c;
        } else if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(s[i + 1]) <= 0x9F) {
            code = static_cast<unsigned char>(s[i + 1]);  // U+0080..U+009F in UTF-8
            skip = 1;
        }
        if (code == 0x100) {
            out += char(c);
            continue;
        }
        std::snprintf(esc, sizeof esc, "\\x%02X", code);
        out += esc;
        i += skip;
    }
    return out;
}
