// Where number tokens start and end in a text, exactly as `strtod` in the
// "C" locale reads them. Inline: the scan calls these for every number.
#pragma once

#include <cstddef>
#include <string_view>

namespace token_scan_detail {

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

inline bool is_hex_digit(char c) {
    return is_digit(c) || static_cast<unsigned char>((c | 0x20) - 'a') < 6;
}

inline bool is_sign(char c) { return c == '+' || c == '-'; }

// The end of an exponent at `q`: `letter` in either case, an optional sign
// and at least one decimal digit; `q` itself when there is none.
inline const char* skip_exponent(const char* q, const char* end, char letter) {
    if (q >= end || (*q | 0x20) != letter) return q;
    const char* e = q + 1;
    if (e < end && is_sign(*e)) ++e;
    if (e >= end || !is_digit(*e)) return q;
    while (e < end && is_digit(*e)) ++e;
    return e;
}

}  // namespace token_scan_detail

// What the rules need to know of a token, found while its end is sought.
struct TokenShape {
    size_t length = 0;                    // 0: no number can be read here
    size_t dot = std::string_view::npos;  // the '.' within the token, if any
    bool exponentLetter = false;          // an 'e' or 'E' anywhere, hex digits included
    bool hexadecimal = false;             // "0x" or "0X" after an optional sign
};

// True when `c` may stand inside a number token (a digit, a hexadecimal
// digit, 'x', 'p', a sign or the point); a token never holds any other byte.
constexpr bool may_be_in_token(char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') || (c | 0x20) == 'x' ||
           (c | 0x20) == 'p' || c == '+' || c == '-' || c == '.';
}

// True when the byte at `pos` starts a number: an ASCII digit; '+' or '-'
// followed by a digit or '.'; or '.' followed by a digit. Bytes of 0x80 and
// above are never digits. `pos` must be inside `text`.
inline bool is_number_start(std::string_view text, size_t pos) {
    using namespace token_scan_detail;
    const char c = text[pos];
    if (is_digit(c)) return true;
    const bool hasNext = pos + 1 < text.size();
    if (is_sign(c)) return hasNext && (is_digit(text[pos + 1]) || text[pos + 1] == '.');
    return c == '.' && hasNext && is_digit(text[pos + 1]);
}

// The longest prefix of text[pos..] that `strtod` would take as a number, and
// its shape: an optional sign, then either decimal digits with an optional
// point and an optional exponent (taken only when digits follow 'e'/'E' and
// its sign), or "0x"/"0X", hexadecimal digits with an optional point and an
// optional 'p' exponent. "0x" with no hexadecimal digit yields just the "0".
// Length 0 when no number can be read there (as for "+.x" or "-.e"). Never
// reads outside `text`.
inline TokenShape scan_number_token(std::string_view text, size_t pos) {
    using namespace token_scan_detail;
    const char* const begin = text.data() + pos;
    const char* const end = text.data() + text.size();
    const char* p = begin;
    TokenShape shape;
    if (p < end && is_sign(*p)) ++p;

    if (end - p >= 2 && p[0] == '0' && (p[1] | 0x20) == 'x') {
        const char* q = p + 2;
        bool anyDigit = false;
        for (; q < end && is_hex_digit(*q); ++q) {
            anyDigit = true;
            shape.exponentLetter |= (*q | 0x20) == 'e';
        }
        if (q < end && *q == '.') {
            const char* point = q++;
            for (; q < end && is_hex_digit(*q); ++q) {
                anyDigit = true;
                shape.exponentLetter |= (*q | 0x20) == 'e';
            }
            if (anyDigit) shape.dot = static_cast<size_t>(point - begin);
        }
        if (!anyDigit) {  // strtod takes the "0" alone
            shape = TokenShape();
            shape.length = static_cast<size_t>(p + 1 - begin);
            return shape;
        }
        shape.hexadecimal = true;
        shape.length = static_cast<size_t>(skip_exponent(q, end, 'p') - begin);
        return shape;
    }

    const char* q = p;
    while (q < end && is_digit(*q)) ++q;
    bool anyDigit = q > p;
    if (q < end && *q == '.') {
        const char* point = q++;
        const char* fraction = q;
        while (q < end && is_digit(*q)) ++q;
        anyDigit = anyDigit || q > fraction;
        shape.dot = static_cast<size_t>(point - begin);
    }
    if (!anyDigit) return TokenShape();
    const char* exponentEnd = skip_exponent(q, end, 'e');
    shape.exponentLetter = exponentEnd != q;
    shape.length = static_cast<size_t>(exponentEnd - begin);
    return shape;
}

// The length of the number at `pos`, as scan_number_token finds it.
inline size_t number_token_length(std::string_view text, size_t pos) {
    return scan_number_token(text, pos).length;
}

// True when the token, after an optional sign, begins with "0x" or "0X".
bool is_hexadecimal_token(std::string_view token);

// The value `strtod` gives for a whole token as number_token_length finds it
// (correctly rounded; out-of-range values give +-HUGE_VAL, or the nearest
// subnormal or zero). `token` must not be empty.
double parse_token_value(std::string_view token);
