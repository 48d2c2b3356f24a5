// The straightforward computation, kept as the model that the fast code is
// checked against: strtod on a NUL-terminated text for every token, pow,
// round and snprintf("%.*f") for every rounding, byte-by-byte output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The rewritten text of one token (`val` parsed from it), by the rules of
// automatic mode (precision < 0) or fixed-precision mode.
std::string model_rewrite(const std::string& token, double val, int32_t precision);

struct ModelScan {
    std::string output;
    int64_t edits = 0;
    std::vector<std::string> changes;  // "original>replacement@line"
};

// The whole text rewritten, with its edits; a token that a letter, digit,
// '_', '.', '+' or '-' touches is part of a word and stays.
ModelScan model_scan(const std::string& text, int32_t precision);
