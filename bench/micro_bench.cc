// Micro-benchmarks of the pure core: the scan over generated map text and
// the rewriting of single tokens, in both modes. Reports MB/s and tokens/s.
#include <benchmark/benchmark.h>

#include <charconv>
#include <string>
#include <vector>

#include "core/candidates.h"
#include "core/number_token.h"
#include "core/scan.h"
#include "core/token_scan.h"
#include "map_generator.h"
#include "mapclean/mapclean.h"

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

// The new text built piece by piece, as the program's filter builds it...
void BM_Rebuild(benchmark::State& state) {
    class Counted final : public TextRebuilder {
    public:
        using TextRebuilder::TextRebuilder;
        size_t bytes = 0;

    private:
        bool wants_lines() const override { return false; }
        void put(std::string_view piece) override { bytes += piece.size(); }
    };
    const std::string& text = map_text();
    const CleanRules rules{static_cast<int32_t>(state.range(0))};
    for (auto _ : state) {
        Counted rebuilt(text);
        benchmark::DoNotOptimize(scan_text(text, rules, rebuilt));
        rebuilt.finish();
        benchmark::DoNotOptimize(rebuilt.bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Rebuild)->Arg(-1)->Arg(2)->Arg(6)->Unit(benchmark::kMillisecond);

// ...and through the library's C interface, its callback counting the bytes.
void BM_CleanTextApi(benchmark::State& state) {
    const std::string& text = map_text();
    mapclean_options options = MAPCLEAN_OPTIONS_INIT;
    options.precision = static_cast<int>(state.range(0));
    const auto count = [](void* user, const char*, size_t length) {
        *static_cast<size_t*>(user) += length;
        return 0;
    };
    for (auto _ : state) {
        size_t bytes = 0;
        int64_t edits = 0;
        benchmark::DoNotOptimize(mapclean_clean_text(text.data(), text.size(), &options, count, &bytes, &edits));
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CleanTextApi)->Arg(-1)->Arg(2)->Arg(6)->Unit(benchmark::kMillisecond);

// Automatic mode's search for the places that may change, at each width:
// 0 portable, 1 SSE2, 2 AVX2 (skipped where the processor lacks it).
void BM_CandidateSearch(benchmark::State& state) {
    const std::string& text = map_text();
    const auto width = static_cast<SimdWidth>(state.range(0));
    if (!simd_width_supported(width)) {
        state.SkipWithError("this processor lacks that width");
        return;
    }
    for (auto _ : state) {
        size_t hits = 0;
        const char* const begin = text.data();
        const char* const end = begin + text.size();
        for (const char* p = begin; (p = find_automatic_candidate(begin, p, end, width)) != end; ++p) ++hits;
        benchmark::DoNotOptimize(hits);
    }
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

namespace {

// The parsing of token values: 0 the standard library's from_chars (where
// it has floating point), 1 parse_token_value (fast_float).
void BM_ParseValue(benchmark::State& state) {
    const std::vector<std::string> tokens = {"-2048", "127.33", "0.30000000000000004", "1.9999999", "2.5e-08",
                                             "-1.0000000000000002", "6.123233995736766e-17", "0.5", "1e-300",
                                             "31.999999999999996"};
    const bool fastFloat = state.range(0) == 1;
    for (auto _ : state) {
        for (const std::string& token : tokens) {
            double value = 0;
            if (fastFloat) {
                value = parse_token_value(token);
            } else {
                std::from_chars(token.data(), token.data() + token.size(), value);
            }
            benchmark::DoNotOptimize(value);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * tokens.size()));
}
BENCHMARK(BM_ParseValue)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
