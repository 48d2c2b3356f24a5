#include "filepass/wide-win32.h"

namespace {

// The code point of the sequence at `at` of `text`, and its length in
// `length`; U+FFFD, length 1, for a byte that begins none. Surrogates
// (U+D800 to U+DFFF) are taken as code points, for WTF-8.
char32_t decode(std::string_view text, size_t at, size_t& length) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(at);
    length = 1;
    if (first < 0x80) return first;
    const size_t more = first >= 0xf0 ? 3 : first >= 0xe0 ? 2 : first >= 0xc0 ? 1 : 0;
    if (more == 0 || first > 0xf4) return 0xfffd;
    char32_t point = first & (0x3f >> more);
    for (size_t i = 1; i <= more; ++i) {
        if (at + i >= text.size() || (byte(at + i) & 0xc0) != 0x80) return 0xfffd;
        point = (point << 6) | (byte(at + i) & 0x3f);
    }
    // Overlong forms and points past U+10FFFF are no encoding of anything.
    static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (point < kLeast[more] || point > 0x10ffff) return 0xfffd;
    length = more + 1;
    return point;
}

}  // namespace

size_t wide_into(std::string_view text, wchar_t* out) {
    size_t units = 0;
    for (size_t at = 0, length = 0; at < text.size(); at += length) {
        const char32_t point = decode(text, at, length);
        if (point >= 0x10000) {
            out[units++] = static_cast<wchar_t>(0xd800 + ((point - 0x10000) >> 10));
            out[units++] = static_cast<wchar_t>(0xdc00 + ((point - 0x10000) & 0x3ff));
        } else {
            out[units++] = static_cast<wchar_t>(point);
        }
    }
    return units;
}

std::wstring wide(std::string_view text) {
    std::wstring out(text.size(), L'\0');
    out.resize(wide_into(text, out.data()));
    return out;
}

size_t complete_prefix(std::string_view text) {
    // A sequence is at most four bytes: its lead is among the last four.
    for (size_t back = 1; back <= 4 && back <= text.size(); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if ((byte & 0xc0) == 0x80) continue;  // a continuation byte
        const size_t needed = byte >= 0xf0 ? 4 : byte >= 0xe0 ? 3 : byte >= 0xc0 ? 2 : 1;
        return needed > back && byte <= 0xf4 ? text.size() - back : text.size();
    }
    return text.size();
}

size_t wide_length(std::string_view text) {
    size_t units = 0;
    for (size_t at = 0, length = 0; at < text.size(); at += length) units += decode(text, at, length) >= 0x10000 ? 2 : 1;
    return units;
}

std::string narrow(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t point = static_cast<char16_t>(text[i]);
        // A surrogate pair is one code point; a lone surrogate stands alone.
        if (point >= 0xd800 && point < 0xdc00 && i + 1 < text.size() && text[i + 1] >= 0xdc00 && text[i + 1] < 0xe000) {
            point = 0x10000 + ((point - 0xd800) << 10) + (static_cast<char16_t>(text[++i]) - 0xdc00);
        }
        if (point < 0x80) {
            out += static_cast<char>(point);
        } else if (point < 0x800) {
            out += static_cast<char>(0xc0 | (point >> 6));
            out += static_cast<char>(0x80 | (point & 0x3f));
        } else if (point < 0x10000) {
            out += static_cast<char>(0xe0 | (point >> 12));
            out += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (point & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (point >> 18));
            out += static_cast<char>(0x80 | ((point >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (point & 0x3f));
        }
    }
    return out;
}
