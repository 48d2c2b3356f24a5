#include "model.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

// A byte that joins a number touching it to a word.
bool word_byte(char c) {
    return digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '.' || c == '+' ||
           c == '-';
}

std::string formatted(double value, int32_t decimals) {
    std::vector<char> buffer(static_cast<size_t>(std::snprintf(nullptr, 0, "%.*f", decimals, value)) + 1);
    std::snprintf(buffer.data(), buffer.size(), "%.*f", decimals, value);
    std::string text(buffer.data());
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    return text;
}

// round(val * 10^decimals) / 10^decimals, or the token where a step is not finite.
std::string rounded(const std::string& token, double val, int32_t decimals) {
    const double factor = std::pow(10.0, decimals);
    const double product = val * factor;
    const double result = std::round(product) / factor;
    if (!std::isfinite(factor) || !std::isfinite(product) || !std::isfinite(result)) return token;
    return formatted(result, decimals);
}

}  // namespace

std::string model_rewrite(const std::string& token, double val, int32_t precision) {
    if (precision >= 0) return rounded(token, val, precision);
    const std::string body = token[0] == '+' || token[0] == '-' ? token.substr(1) : token;
    if (body.size() > 1 && body[0] == '0' && digit(body[1])) return token;  // "0003", "00000e34": no double's print
    if (token.find_first_of("eE") != std::string::npos) {
        return std::fabs(val) < 0.000001 ? "0" : token;
    }
    const size_t dot = token.find('.');
    if (dot == std::string::npos) return token;
    if (body.size() > 1 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) return token;

    const std::string intPart = token.substr(0, dot);
    const std::string frac = token.substr(dot + 1);
    const int64_t fracLen = static_cast<int64_t>(frac.size());
    for (int64_t i = 1; i < fracLen - 2; ++i) {
        if (frac[i] == '0' && frac[i + 1] == '0' && frac[i + 2] == '0') {
            const std::string newFrac = frac.substr(0, static_cast<size_t>(i));
            if (newFrac.find_first_not_of('0') != std::string::npos) return intPart + "." + newFrac;
            if (intPart.empty() || intPart == "+" || intPart == "-") return intPart + "0";
            return intPart;
        }
    }
    for (int64_t i = 0; i < fracLen - 2; ++i) {
        if (frac[i] == '9' && frac[i + 1] == '9' && frac[i + 2] == '9') {
            return rounded(token, val, static_cast<int32_t>(std::min<int64_t>(i, INT32_MAX)));
        }
    }
    return token;
}

ModelScan model_scan(const std::string& text, int32_t precision) {
    ModelScan result;
    const char* p = text.c_str();
    int64_t line = 1;
    while (*p != '\0') {
        const bool start = digit(*p) || ((*p == '+' || *p == '-') && (digit(p[1]) || p[1] == '.')) ||
                           (*p == '.' && digit(p[1]));
        char* end = nullptr;
        const double value = start ? std::strtod(p, &end) : 0.0;
        if (!start || end == p) {
            if (*p == '\n') ++line;
            result.output += *p++;
            continue;
        }
        const std::string token(p, static_cast<const char*>(end));
        const bool inWord = (p > text.c_str() && word_byte(p[-1])) || word_byte(*end);
        const std::string rewritten = inWord ? token : model_rewrite(token, value, precision);
        if (rewritten != token) {
            ++result.edits;
            result.changes.push_back(token + ">" + rewritten + "@" + std::to_string(line));
        }
        result.output += rewritten;
        p = end;
    }
    result.output.append(text, static_cast<size_t>(p - text.c_str()));
    return result;
}
