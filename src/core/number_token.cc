#include "core/number_token.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/token_scan.h"

namespace {

// Past this many decimals 10^decimals is no finite double, so rounding there
// always gives the token back.
constexpr int32_t kMaxDecimals = 308;

// pow(10, i) from the runtime library for every i a rounding can use, exactly
// as the rounding rules compute it. Not a lambda, which the compiler may
// evaluate itself, and the base through a volatile: folded powers are the
// correctly rounded ones, and the library's pow(10, 23) lies one unit in
// the last place above that.
std::array<double, kMaxDecimals + 1> library_powers_of_ten() {
    volatile double ten = 10.0;
    std::array<double, kMaxDecimals + 1> powers{};
    for (size_t i = 0; i < powers.size(); ++i) powers[i] = std::pow(ten, static_cast<double>(i));
    return powers;
}

// pow(10, decimals), from a table made at the first call and never changed.
double power_of_ten(int32_t decimals) {
    static const std::array<double, kMaxDecimals + 1> powers = library_powers_of_ten();
    return powers[static_cast<size_t>(decimals)];
}

// First position i >= from of `frac` where `digit` stands three times in a
// row, or npos.
size_t find_run(std::string_view frac, char digit, size_t from) {
    for (size_t i = from; i + 2 < frac.size(); ++i) {
        if (frac[i] == digit && frac[i + 1] == digit && frac[i + 2] == digit) return i;
    }
    return std::string_view::npos;
}

// "%.*f" of `value` with `decimals` into `text`. to_chars gives the same
// exact, correctly rounded digits as printf, without its locale and cost;
// the buffer holds the longest such text (a sign, 309 integer digits, the
// point and 308 decimals), and snprintf remains should that ever not hold.
void format_fixed(double value, int32_t decimals, std::string& text) {
    char buffer[2 + 309 + 1 + kMaxDecimals + 8];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (error == std::errc()) {
        text.assign(buffer, end);
        return;
    }
    const int length = std::snprintf(nullptr, 0, "%.*f", decimals, value);
    text.assign(static_cast<size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, "%.*f", decimals, value);
}

// round(val * 10^decimals) / 10^decimals, formatted and trimmed, into
// `replacement`; false (no change) when it equals the token or when any step
// leaves the range of a double, since the formatter would then write "inf"
// or "nan" in the number's place.
bool round_to_decimals(std::string_view token, double val, int32_t decimals, std::string& replacement) {
    if (decimals > kMaxDecimals) return false;
    const double factor = power_of_ten(decimals);
    const double scaled = val * factor;
    const double rounded = std::round(scaled) / factor;
    if (!std::isfinite(scaled) || !std::isfinite(rounded)) return false;
    std::string text;
    format_fixed(rounded, decimals, text);
    trim_trailing_zeros(text);
    if (text == token) return false;
    replacement = std::move(text);
    return true;
}

// The length of `token` without the trailing zeros of its fraction (and
// then its point) when that shorter text is a decimal that rounding to
// `precision` provably keeps (stable_decimal_length): both texts are the same
// decimal, so the rounding gives the shorter one. 0 otherwise.
size_t kept_after_trailing_zeros(std::string_view token, int32_t precision) {
    const size_t dot = token.find('.');
    if (dot == std::string_view::npos || token.back() != '0') return 0;
    size_t end = token.find_last_not_of('0') + 1;  // the point stops it
    if (end == dot + 1) end = dot;                 // no decimal left: the point goes too
    // Only a plain decimal is kept whole: never an exponent or a hexadecimal form.
    return stable_decimal_length(token.substr(0, end), 0, precision) == end ? end : 0;
}

// True when the token's digits before its point or exponent begin with a '0'
// that another digit follows ("0003", "-007.5", "00000e34"): no program
// that prints doubles writes one, while addresses and counters in other
// programs' ".map" files ("0001:00000e34" in a linker map) do.
bool has_leading_zero(std::string_view token) {
    if (!token.empty() && (token[0] == '+' || token[0] == '-')) token.remove_prefix(1);
    return token.size() >= 2 && token[0] == '0' && token[1] >= '0' && token[1] <= '9';
}

// The rules of both modes. `value()` gives the token's parsed value; it is
// called only where a rule needs it.
template <typename GetValue>
bool apply_rules(std::string_view token, const TokenShape& shape, int32_t precision, GetValue value,
                 std::string& replacement) {
    if (precision >= 0) {
        if (stable_decimal_length(token, 0, precision) == token.size()) return false;
        if (const size_t kept = kept_after_trailing_zeros(token, precision)) {
            replacement.assign(token.substr(0, kept));
            return true;
        }
        return round_to_decimals(token, value(), precision, replacement);
    }

    // Automatic mode repairs only what a double's printing leaves.
    if (has_leading_zero(token)) return false;

    // Exponent notation; hexadecimal digits e and E count too.
    if (shape.exponentLetter) {
        if (!(std::fabs(value()) < 0.000001)) return false;
        replacement.assign(1, '0');
        return true;
    }

    // Hexadecimal fractions hold hex digits and a 'p' exponent: the decimal
    // runs below would corrupt them.
    if (shape.dot == std::string_view::npos || shape.hexadecimal) return false;
    const std::string_view intPart = token.substr(0, shape.dot);
    const std::string_view frac = token.substr(shape.dot + 1);

    const size_t zeros_index = find_run(frac, '0', 1);
    if (zeros_index != std::string_view::npos) {
        const std::string_view newFrac = frac.substr(0, zeros_index);
        replacement.assign(intPart);
        if (newFrac.find_first_not_of('0') == std::string_view::npos) {
            // ".00001" has no digit before its point: keep a number in place.
            if (intPart.empty() || intPart == "+" || intPart == "-") replacement += '0';
        } else {
            replacement.append(1, '.').append(newFrac);
        }
        return true;  // at least the run itself is gone
    }

    const size_t nines_index = find_run(frac, '9', 0);
    if (nines_index != std::string_view::npos && nines_index <= static_cast<size_t>(kMaxDecimals)) {
        return round_to_decimals(token, value(), static_cast<int32_t>(nines_index), replacement);
    }
    return false;
}

}  // namespace

void trim_trailing_zeros(std::string& text) {
    if (text.find('.') == std::string::npos) return;
    size_t end = text.find_last_not_of('0') + 1;  // the '.' stops it
    if (text[end - 1] == '.') --end;
    text.resize(end);
}

std::string process_number_token(std::string_view token, double val, int32_t precision) {
    // The shape as the token's own text shows it, whatever its origin.
    TokenShape shape;
    shape.length = token.size();
    shape.dot = token.find('.');
    shape.exponentLetter = token.find_first_of("eE") != std::string_view::npos;
    shape.hexadecimal = is_hexadecimal_token(token);
    std::string replacement;
    if (apply_rules(token, shape, precision, [val] { return val; }, replacement)) return replacement;
    return std::string(token);
}

bool rewrite_number_token(std::string_view token, const TokenShape& shape, int32_t precision,
                          std::string& replacement) {
    return apply_rules(token, shape, precision, [token] { return parse_token_value(token); },
                       replacement);
}

bool rewrite_number_token(std::string_view token, int32_t precision, std::string& replacement) {
    return rewrite_number_token(token, scan_number_token(token, 0), precision, replacement);
}

std::string plain_decimal(std::string_view token) {
    std::string text;
    if (token[0] == '+' || token[0] == '-') {
        text += token[0];
        token.remove_prefix(1);
    }
    const size_t letter = token.find_first_of("eE");
    const std::string_view mantissa = token.substr(0, letter);
    const size_t point = std::min(mantissa.find('.'), mantissa.size());
    std::string digits(mantissa.substr(0, point));
    if (point < mantissa.size()) digits.append(mantissa.substr(point + 1));

    // The exponent, saturated far beyond any finite value's.
    std::string_view exponent = token.substr(letter + 1);
    const bool negative = exponent[0] == '-';
    if (exponent[0] == '+' || exponent[0] == '-') exponent.remove_prefix(1);
    int64_t shift = 0;
    for (char c : exponent) shift = std::min<int64_t>(shift * 10 + (c - '0'), int64_t{1} << 40);
    // Where the point stands, counted in digits from the left.
    int64_t pointAt = static_cast<int64_t>(point) + (negative ? -shift : shift);

    // Leading zeros move the point; trailing ones are made again below
    // where they stand before it.
    const size_t first = std::min(digits.find_first_not_of('0'), digits.size());
    pointAt -= static_cast<int64_t>(first);
    digits.erase(0, first);
    digits.erase(digits.find_last_not_of('0') + 1);
    const auto length = static_cast<int64_t>(digits.size());

    if (pointAt <= 0) {
        text.append("0.").append(static_cast<size_t>(-pointAt), '0').append(digits);
    } else if (pointAt >= length) {
        text.append(digits).append(static_cast<size_t>(pointAt - length), '0');
    } else {
        text.append(digits, 0, static_cast<size_t>(pointAt)).append(1, '.').append(digits, static_cast<size_t>(pointAt));
    }
    return text;
}

bool rewrite_number_token_plain(std::string_view token, const TokenShape& shape, std::string& replacement) {
    if (!shape.exponentLetter || shape.hexadecimal || has_leading_zero(token)) {
        return rewrite_number_token(token, shape, -1, replacement);
    }
    const double val = parse_token_value(token);
    if (!(std::fabs(val) >= 0.000001) || !std::isfinite(val)) {
        return rewrite_number_token(token, shape, -1, replacement);  // "0", or as it stands
    }
    std::string plain = plain_decimal(token);
    std::string cleaned;
    if (rewrite_number_token(plain, scan_number_token(plain, 0), -1, cleaned)) plain = std::move(cleaned);
    if (plain == token) return false;
    replacement = std::move(plain);
    return true;
}
