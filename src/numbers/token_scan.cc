#include "numbers/token_scan.h"

#include <charconv>
#include <cstdlib>
#include <string>

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_hex_digit(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool is_sign(char c) { return c == '+' || c == '-'; }

// Position after the run of bytes at `pos` that satisfy `accept`.
template <typename Accept>
size_t skip(std::string_view text, size_t pos, Accept accept) {
    while (pos < text.size() && accept(text[pos])) ++pos;
    return pos;
}

// Position after an exponent at `pos` ('e'/'E' for decimal, 'p'/'P' for hex,
// an optional sign, at least one decimal digit), or `pos` when none is there.
size_t skip_exponent(std::string_view text, size_t pos, char lower, char upper) {
    if (pos >= text.size() || (text[pos] != lower && text[pos] != upper)) return pos;
    size_t i = pos + 1;
    if (i < text.size() && is_sign(text[i])) ++i;
    const size_t end = skip(text, i, is_digit);
    return end > i ? end : pos;
}

// Position after a mantissa of `accept` digits with an optional point, or
// `pos` when it holds no digit at all.
template <typename Accept>
size_t skip_mantissa(std::string_view text, size_t pos, Accept accept) {
    size_t i = skip(text, pos, accept);
    bool anyDigit = i > pos;
    if (i < text.size() && text[i] == '.') {
        const size_t fracEnd = skip(text, i + 1, accept);
        anyDigit = anyDigit || fracEnd > i + 1;
        i = fracEnd;
    }
    return anyDigit ? i : pos;
}

}  // namespace

bool is_number_start(std::string_view text, size_t pos) {
    const char c = text[pos];
    if (is_digit(c)) return true;
    const bool hasNext = pos + 1 < text.size();
    if (is_sign(c)) return hasNext && (is_digit(text[pos + 1]) || text[pos + 1] == '.');
    return c == '.' && hasNext && is_digit(text[pos + 1]);
}

size_t number_token_length(std::string_view text, size_t pos) {
    size_t i = pos;
    if (i < text.size() && is_sign(text[i])) ++i;

    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        const size_t end = skip_mantissa(text, i + 2, is_hex_digit);
        if (end > i + 2) return skip_exponent(text, end, 'p', 'P') - pos;
        return i + 1 - pos;  // "0x" without digits: strtod takes the "0"
    }

    const size_t end = skip_mantissa(text, i, is_digit);
    if (end == i) return 0;
    return skip_exponent(text, end, 'e', 'E') - pos;
}

bool is_hexadecimal_token(std::string_view token) {
    const size_t i = (!token.empty() && is_sign(token[0])) ? 1 : 0;
    return token.size() >= i + 2 && token[i] == '0' && (token[i + 1] == 'x' || token[i + 1] == 'X');
}

double parse_token_value(std::string_view token) {
    // from_chars is correctly rounded like strtod, needs no NUL-terminated
    // copy and ignores the locale. It takes neither '+' nor "0x", and leaves
    // out-of-range values to strtod's rules (HUGE_VAL, subnormals, zero).
    if (!is_hexadecimal_token(token)) {
        const std::string_view digits = token[0] == '+' ? token.substr(1) : token;
        const char* last = digits.data() + digits.size();
        double value = 0;
        const auto [end, error] = std::from_chars(digits.data(), last, value);
        if (error == std::errc() && end == last) return value;
    }
    const std::string terminated(token);
    return std::strtod(terminated.c_str(), nullptr);
}
