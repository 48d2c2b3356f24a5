// Micro-benchmarks of the pure core: the scan over generated map text and
// the rewriting of single tokens, in both modes. Reports MB/s and tokens/s.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "filepass/candidates.h"
#include "filepass/scan.h"
#include "map_generator.h"
#include "numbers/number_token.h"

namespace {

const std::string& map_text() {
    static const std::string text = mapgen::make_text(16 << 20, 5, 1);
    return text;
}

class CountingSink final : public EditSink {
public:
    void on_edit(const Edit& edit) override { bytes += edit.replacement.size(); }
    size_t bytes = 0;
};

void BM_Scan(benchmark::State& state) {
    const std::string& text = map_text();
    const auto precision = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        CountingSink sink;
        benchmark::DoNotOptimize(scan_text(text, precision, sink));
        benchmark::DoNotOptimize(sink.bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Scan)->Arg(-1)->Arg(2)->Arg(6)->Unit(benchmark::kMillisecond);

// Automatic mode's search for the places that may change, at each width:
// 0 portable, 1 SSE2, 2 AVX2 (skipped where the processor lacks it).
void BM_CandidateSearch(benchmark::State& state) {
    const std::string& text = map_text();
    if (!use_simd_width(static_cast<SimdWidth>(state.range(0)))) {
        state.SkipWithError("this processor lacks that width");
        return;
    }
    for (auto _ : state) {
        size_t hits = 0;
        const char* const begin = text.data();
        const char* const end = begin + text.size();
        for (const char* p = begin; (p = find_automatic_candidate(begin, p, end)) != end; ++p) ++hits;
        benchmark::DoNotOptimize(hits);
    }
    use_simd_width(widest_simd_width());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CandidateSearch)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_RewriteToken(benchmark::State& state) {
    const std::vector<std::string> tokens = {"-2048", "16", "127.33", "0.30000000000000004",
                                             "1.9999999", "2.5e-08", "-1.0000000000000002", "64",
                                             "6.123233995736766e-17", "0.5"};
    const auto precision = static_cast<int32_t>(state.range(0));
    std::string replacement;
    for (auto _ : state) {
        for (const std::string& token : tokens) {
            benchmark::DoNotOptimize(rewrite_number_token(token, precision, replacement));
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * tokens.size()));
}
BENCHMARK(BM_RewriteToken)->Arg(-1)->Arg(2)->Arg(6);

}  // namespace

BENCHMARK_MAIN();
