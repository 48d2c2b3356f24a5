// Where number tokens start and end in a text, exactly as `strtod` in the
// "C" locale reads them.
#pragma once

#include <cstddef>
#include <string_view>

// True when the byte at `pos` starts a number: an ASCII digit; '+' or '-'
// followed by a digit or '.'; or '.' followed by a digit. Bytes of 0x80 and
// above are never digits. `pos` must be inside `text`.
bool is_number_start(std::string_view text, size_t pos);

// Length of the longest prefix of text[pos..] that `strtod` would take as a
// number: an optional sign, then either decimal digits with an optional point
// and an optional exponent (taken only when digits follow 'e'/'E' and its
// sign), or "0x"/"0X", hexadecimal digits with an optional point and an
// optional 'p' exponent. "0x" with no hexadecimal digit yields just the "0".
// Returns 0 when no number can be read there (as for "+.x" or "-.e").
// Never reads outside `text`.
size_t number_token_length(std::string_view text, size_t pos);

// True when the token, after an optional sign, begins with "0x" or "0X".
bool is_hexadecimal_token(std::string_view token);

// The value `strtod` gives for a whole token as found by
// number_token_length (correctly rounded; out-of-range values give
// +-HUGE_VAL, or the nearest subnormal or zero). `token` must not be empty.
double parse_token_value(std::string_view token);
