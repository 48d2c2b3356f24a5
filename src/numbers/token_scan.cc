#include "numbers/token_scan.h"

#include <charconv>
#include <cstdlib>
#include <string>

bool is_hexadecimal_token(std::string_view token) {
    const size_t i = (!token.empty() && token_scan_detail::is_sign(token[0])) ? 1 : 0;
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
