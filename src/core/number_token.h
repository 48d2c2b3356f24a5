// Rewriting of one number token: the only place where numbers change.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/token_scan.h"

// Returns the text that replaces `token` (the token's bytes exactly as they
// stood in the file; `val` is the value parsed from them).
//
// precision >= 0: fixed-precision mode; the value is rounded to `precision`
//   decimals, round(val * 10^P) / 10^P, and written in plain decimal
//   notation ("%.*f"), trailing zeros trimmed.
// precision < 0: automatic mode; only floating-point noise is repaired:
//   exponent forms below 1e-6 become "0", a fraction with a run of three '0'
//   (from its second digit on) is cut before the run, a fraction with a run of
//   three '9' is rounded at the run. Everything else comes back unchanged,
//   a token whose digits begin with '0' and another digit ("00000e34",
//   "-007.5000001") among them: no double is printed so.
//
// Never fails and never returns an empty text, a word for infinity or
// not-a-number, or a number cut short: where a rule cannot give an exact,
// finite result the token comes back unchanged. The caller decides whether the
// result is an edit by comparing it with `token`.
std::string process_number_token(std::string_view token, double val, int32_t precision);

// The same rules, for the scan: parses the token's value only when a rule
// needs it. Returns true and sets `replacement` when the result differs from
// `token`; returns false, leaving `replacement` as it was, when it does not.
// `token` must be a whole token as number_token_length finds it.
bool rewrite_number_token(std::string_view token, int32_t precision, std::string& replacement);

// The same, with the token's shape as scan_number_token found it.
bool rewrite_number_token(std::string_view token, const TokenShape& shape, int32_t precision,
                          std::string& replacement);

// Removes trailing '0' characters from a text that holds a '.', then the '.'
// itself if it is left last ("1.50" -> "1.5", "2.00" -> "2", "-0.00" -> "-0").
// A text without a '.' is left as it is ("100" stays "100").
void trim_trailing_zeros(std::string& text);

// The plain decimal form of a decimal token in exponent form, with exactly
// its digits: the point moved by the exponent, as text ("1.5E3" -> "1500",
// "+2.5e1" -> "+25", "1.5e-4" -> "0.00015"). At least one digit before the
// point, no other leading zeros, no trailing zeros or dangling point after
// it; the sign as written. `token` must be a decimal token with an exponent
// whose value is finite and nonzero (a longer text would be built for
// nothing): the result is then at most its length plus about 330 bytes.
std::string plain_decimal(std::string_view token);

// Automatic mode with "-plain": an exponent-form decimal token whose value
// is finite and at least 1e-6 in magnitude becomes its plain_decimal form,
// to which automatic mode's rules are then applied as to any decimal token
// ("9.9999999e-01" -> "1"). Every other token, hexadecimal forms and values
// below 1e-6 or beyond a double's range included, is rewritten as automatic
// mode rewrites it. Returns true and sets `replacement` when the result
// differs from `token`, as rewrite_number_token does.
bool rewrite_number_token_plain(std::string_view token, const TokenShape& shape, std::string& replacement);

// Fixed-precision mode's shortcut, for the rules and the scan: the length
// of the token at `pos` when it is a plain decimal that rounding to
// `precision` decimals provably gives back unchanged, and the byte after it
// cannot continue a number; 0 when the token must be looked at closely.
// `pos` must be where a token may start (between tokens).
//
// The shape: an optional '-', an integer part that is "0" or has no leading
// zero, and, if there is a point, 1 to P decimals not ending in '0'; with at
// most 15 - P integer digits. Its digits without the point, m, then satisfy
// m * 10^(P-f) < 10^15 < 2^50 (f decimals), so val * 10^P rounds to exactly
// that integer, the division gives back val (the double nearest m / 10^f),
// val lies within half a unit of the P-th decimal of m / 10^f, and "%.*f"
// writes the token's digits and P - f zeros, which the trim removes again.
inline size_t stable_decimal_length(std::string_view text, size_t pos, int32_t precision) {
    const auto digit = [](char c) { return static_cast<unsigned char>(c - '0') < 10; };
    if (precision < 0 || precision > 15) return 0;
    const char* const end = text.data() + text.size();
    const char* q = text.data() + pos;
    if (q < end && *q == '-') ++q;
    const char* const intStart = q;
    while (q < end && digit(*q)) ++q;
    const auto intDigits = static_cast<size_t>(q - intStart);
    if (intDigits == 0 || intDigits + static_cast<size_t>(precision) > 15 || (*intStart == '0' && intDigits > 1)) {
        return 0;
    }
    if (q < end && *q == '.') {
        const char* const fracStart = ++q;
        while (q < end && digit(*q)) ++q;
        const auto fracDigits = static_cast<size_t>(q - fracStart);
        if (fracDigits == 0 || fracDigits > static_cast<size_t>(precision) || q[-1] == '0') return 0;
    }
    // A point, an exponent or "0x" would make a longer token of another shape.
    if (q < end && (*q == '.' || (*q | 0x20) == 'e' || (*q | 0x20) == 'x')) return 0;
    return static_cast<size_t>(q - (text.data() + pos));
}

