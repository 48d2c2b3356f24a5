#include "numbers/number_token.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Whether the token, after an optional sign, begins with "0x" or "0X".
bool is_hexadecimal(std::string_view token) {
    size_t i = (!token.empty() && (token[0] == '+' || token[0] == '-')) ? 1 : 0;
    return token.size() >= i + 2 && token[i] == '0' && (token[i + 1] == 'x' || token[i + 1] == 'X');
}

// First position i >= from of `frac` where `digit` stands three times in a
// row, or npos.
size_t find_run(std::string_view frac, char digit, size_t from) {
    for (size_t i = from; i + 2 < frac.size(); ++i) {
        if (frac[i] == digit && frac[i + 1] == digit && frac[i + 2] == digit) return i;
    }
    return std::string_view::npos;
}

// `value` formatted with "%.*f" and `decimals`, at whatever length it takes.
std::string format_fixed(double value, int32_t decimals) {
    int length = std::snprintf(nullptr, 0, "%.*f", decimals, value);
    std::string text(static_cast<size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, "%.*f", decimals, value);
    return text;
}

// round(val * 10^decimals) / 10^decimals, formatted and trimmed; the token
// itself when any step leaves the range of a double, since the formatter
// would write "inf" or "nan" in the number's place.
std::string round_to_decimals(std::string_view token, double val, int32_t decimals) {
    const double factor = std::pow(10.0, decimals);
    const double scaled = val * factor;
    const double rounded = std::round(scaled) / factor;
    if (!std::isfinite(factor) || !std::isfinite(scaled) || !std::isfinite(rounded)) {
        return std::string(token);
    }
    std::string text = format_fixed(rounded, decimals);
    trim_trailing_zeros(text);
    return text;
}

}  // namespace

void trim_trailing_zeros(std::string& text) {
    if (text.find('.') == std::string::npos) return;
    size_t end = text.find_last_not_of('0') + 1;  // the '.' stops it
    if (text[end - 1] == '.') --end;
    text.resize(end);
}

std::string process_number_token(std::string_view token, double val, int32_t precision) {
    if (precision >= 0) return round_to_decimals(token, val, precision);

    if (token.find_first_of("eE") != std::string_view::npos) {
        return std::fabs(val) < 0.000001 ? std::string("0") : std::string(token);
    }

    const size_t dot = token.find('.');
    // Hexadecimal fractions hold hex digits and a 'p' exponent: the decimal
    // runs below would corrupt them.
    if (dot == std::string_view::npos || is_hexadecimal(token)) return std::string(token);

    const std::string_view intPart = token.substr(0, dot);
    const std::string_view frac = token.substr(dot + 1);

    const size_t zeros_index = find_run(frac, '0', 1);
    if (zeros_index != std::string_view::npos) {
        const std::string_view newFrac = frac.substr(0, zeros_index);
        if (newFrac.find_first_not_of('0') == std::string_view::npos) {
            // ".00001" has no digit before its point: keep a number in place.
            std::string result(intPart);
            if (intPart.empty() || intPart == "+" || intPart == "-") result += '0';
            return result;
        }
        std::string result;
        result.reserve(intPart.size() + 1 + newFrac.size());
        result.append(intPart).append(1, '.').append(newFrac);
        return result;
    }

    const size_t nines_index = find_run(frac, '9', 0);
    if (nines_index != std::string_view::npos) {
        // Past 308 decimals the power of ten is no longer finite, and the
        // rounding gives the token back; the clamp only keeps the count an int.
        const size_t decimals = std::min<size_t>(nines_index, INT32_MAX);
        return round_to_decimals(token, val, static_cast<int32_t>(decimals));
    }

    return std::string(token);
}
