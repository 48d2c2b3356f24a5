#include "core/token_scan.h"

#include <fast_float/fast_float.h>

#include <cstdlib>
#include <string>
#include <system_error>

bool is_hexadecimal_token(std::string_view token) {
    const size_t i = (!token.empty() && token_scan_detail::is_sign(token[0])) ? 1 : 0;
    return token.size() >= i + 2 && token[i] == '0' && (token[i + 1] == 'x' || token[i + 1] == 'X');
}

double parse_token_value(std::string_view token) {
    // fast_float is correctly rounded like strtod, needs no NUL-terminated
    // copy, ignores the locale, and is there where the standard library's
    // floating-point from_chars is not (libc++ before 20). It takes neither
    // '+' nor "0x", which strtod reads.
    if (!is_hexadecimal_token(token)) {
        const std::string_view digits = token[0] == '+' ? token.substr(1) : token;
        const char* last = digits.data() + digits.size();
        double value = 0;
        const auto [end, error] = fast_float::from_chars(digits.data(), last, value);
        if (error == std::errc() && end == last) return value;
    }
    const std::string terminated(token);
    return std::strtod(terminated.c_str(), nullptr);
}
