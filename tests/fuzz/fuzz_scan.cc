// Fuzzes the scan of a whole text in both modes, with each search width the
// processor has (portable, SSE2, AVX2): the result must equal the
// model's, every edit must stand where it says and hold what it says, and
// every byte outside the edited tokens must come out as it went in, also
// when the text is scanned a piece at a time as a file is read.
#include <cstdint>
#include <string>
#include <vector>

#include "core/candidates.h"
#include "core/scan.h"
#include "fuzz_checks.h"
#include "model.h"
#include "pieces.h"

namespace {

class Checker final : public EditSink {
public:
    Checker(std::string_view text, int32_t precision) : text_(text), precision_(precision) {}

    void on_edit(const Edit& edit) override {
        FUZZ_CHECK(edit.offset >= end_, edit.original);  // in order, never overlapping
        FUZZ_CHECK(text_.substr(edit.offset, edit.original.size()) == edit.original, edit.original);
        FUZZ_CHECK(edit.original != edit.replacement, edit.original);
        check_replacement(edit.original, edit.replacement);
        if (precision_ < 0) FUZZ_CHECK(automatic_rule_applies(edit.original, edit.replacement), edit.original);
        rebuilt_.append(text_.substr(end_, edit.offset - end_)).append(edit.replacement);
        end_ = edit.offset + edit.original.size();
        ++count_;
    }

    std::string finish() { return rebuilt_.append(text_.substr(end_)); }
    int64_t count() const { return count_; }

private:
    std::string_view text_;
    int32_t precision_;
    std::string rebuilt_;
    size_t end_ = 0;
    int64_t count_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int32_t precision = data[0] < 160 ? -1 : data[0] % 12;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    // Every search width this processor has, chosen by the input too.
    SimdWidth width = static_cast<SimdWidth>((data[0] / 12) % 3);
    if (!simd_width_supported(width)) width = widest_simd_width();

    Checker checker(text, precision);
    const int64_t edits = scan_text(text, CleanRules{precision}, checker, width);
    FUZZ_CHECK(edits == checker.count(), text);
    const std::string output = checker.finish();

    const ModelScan model = model_scan(text, precision);
    FUZZ_CHECK(output == model.output, text);
    FUZZ_CHECK(edits == model.edits, text);

    // Read as a file is, a piece at a time, the text scans the same.
    int64_t pieceEdits = 0;
    FUZZ_CHECK(clean_in_pieces(text, CleanRules{precision}, 1 + data[0] % 64, false, pieceEdits) == output, text);
    FUZZ_CHECK(pieceEdits == edits, text);
    return 0;
}
