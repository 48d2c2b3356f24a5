#include "filepass/scan.h"

#include <algorithm>
#include <array>

#include "numbers/number_token.h"
#include "numbers/token_scan.h"

namespace {

// Bytes that may begin a number: digits, signs and the point. Every other
// byte is passed over without further tests.
constexpr std::array<bool, 256> kMayStartNumber = [] {
    std::array<bool, 256> table{};
    for (char c : std::string_view("0123456789+-.")) table[static_cast<unsigned char>(c)] = true;
    return table;
}();

}  // namespace

int64_t scan_text(std::string_view text, int32_t precision, EditSink& sink) {
    const std::string_view scanned = text.substr(0, text.find('\0'));
    const char* const bytes = scanned.data();
    const size_t size = scanned.size();

    int64_t edits = 0;
    // Lines are counted only up to each edit, in bulk.
    int64_t lineNum = 1;
    size_t linesCountedTo = 0;
    std::string replacement;
    size_t p = 0;
    while (p < size) {
        if (!kMayStartNumber[static_cast<unsigned char>(bytes[p])]) {
            ++p;
            continue;
        }
        const TokenShape shape = is_number_start(scanned, p) ? scan_number_token(scanned, p) : TokenShape();
        const size_t tokenLen = shape.length;
        if (tokenLen == 0) {
            ++p;
            continue;
        }
        const std::string_view token(bytes + p, tokenLen);
        // Automatic mode leaves every token without a point or an exponent.
        const bool mayChange = precision >= 0 || shape.exponentLetter || shape.dot != std::string_view::npos;
        if (mayChange && rewrite_number_token(token, shape, precision, replacement)) {
            ++edits;
            lineNum += std::count(bytes + linesCountedTo, bytes + p, '\n');
            linesCountedTo = p;
            sink.on_edit(Edit{p, token, replacement, lineNum});
        }
        p += tokenLen;
    }
    return edits;
}

std::string clean_text(std::string_view text, int32_t precision, int64_t* edits) {
    // Copies the bytes between edits and each replacement.
    class Builder final : public EditSink {
    public:
        explicit Builder(std::string_view text) : text_(text) {}
        void on_edit(const Edit& edit) override {
            out_.append(text_, copied_, edit.offset - copied_).append(edit.replacement);
            copied_ = edit.offset + edit.original.size();
        }
        std::string finish() { return std::move(out_.append(text_, copied_)); }

    private:
        std::string_view text_;
        std::string out_;
        size_t copied_ = 0;
    };
    Builder builder(text);
    const int64_t count = scan_text(text, precision, builder);
    if (edits) *edits = count;
    return builder.finish();
}
