// Fuzzes the rewriting of one token in both modes against the model of the
// straightforward computation. The first byte picks the mode.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_checks.h"
#include "model.h"
#include "core/number_token.h"

namespace {

int32_t precision_from(uint8_t byte) {
    if (byte < 96) return -1;
    if (byte < 224) return byte % 24;  // the usual precisions
    const int32_t large[] = {30, 100, 300, 308, 309, 1000, 2147483647};
    return large[byte % 7];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int32_t precision = precision_from(data[0]);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (!is_number_start(text, 0)) return 0;
    const size_t length = number_token_length(text, 0);
    if (length == 0) return 0;
    const std::string token(text.substr(0, length));

    const std::string expected = model_rewrite(token, std::strtod(token.c_str(), nullptr), precision);
    std::string replacement;
    const bool changed = rewrite_number_token(token, precision, replacement);
    FUZZ_CHECK(changed == (expected != token), token);
    const std::string result = changed ? replacement : token;
    FUZZ_CHECK(result == expected, token);
    check_replacement(token, result);
    if (precision < 0 && changed) FUZZ_CHECK(automatic_rule_applies(token, result), token);
    return 0;
}
