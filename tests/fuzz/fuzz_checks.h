// Properties that every rewritten token must have, shared by the fuzz
// targets. A violated property aborts, which libFuzzer reports as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "core/token_scan.h"

#define FUZZ_CHECK(condition, text)                                                          \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            std::fprintf(stderr, "check failed: %s for '%.*s'\n", #condition,               \
                         static_cast<int>((text).size()), (text).data());                    \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)

// A replacement is one whole number token, never empty, never a word.
inline void check_replacement(std::string_view token, std::string_view replacement) {
    FUZZ_CHECK(!replacement.empty(), token);
    FUZZ_CHECK(is_number_start(replacement, 0), token);
    FUZZ_CHECK(number_token_length(replacement, 0) == replacement.size(), token);
    FUZZ_CHECK(replacement.find_first_of("iInN") == std::string_view::npos, token);
}

// In automatic mode a token changes only where a rule applies to it: an
// exponent form (to "0"), or a decimal fraction with a run of three '0'
// from its second digit on, or of three '9'.
inline bool automatic_rule_applies(std::string_view token, std::string_view replacement) {
    if (token.find_first_of("eE") != std::string_view::npos) return replacement == "0";
    const size_t dot = token.find('.');
    if (dot == std::string_view::npos || is_hexadecimal_token(token)) return false;
    const std::string_view frac = token.substr(dot + 1);
    return frac.find("000", 1) != std::string_view::npos || frac.find("999") != std::string_view::npos;
}
