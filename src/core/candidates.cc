#include "core/candidates.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define MAPCLEAN_X86 1
#define MAPCLEAN_BLOCKS 1
#elif defined(__wasm_simd128__)
#include <wasm_simd128.h>
#define MAPCLEAN_BLOCKS 1
#endif

namespace {

bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The rule of find_automatic_candidate for the one byte at `i` (the
// precision plays no part; both rules take it, so one search serves both).
bool is_automatic_candidate(const char* begin, const char* i, const char* end, int) {
    const char c = *i;
    if ((c | 0x20) == 'e') return i > begin && (is_digit(i[-1]) || i[-1] == '.');
    if ((c | 0x20) == 'x') return i > begin && i[-1] == '0';
    if (c == '0' || c == '9') return end - i >= 3 && i[1] == c && i[2] == c;
    return false;
}

// The byte at `i`, or NUL outside [begin, end): no digit, no point.
char byte_at(const char* begin, const char* i, const char* end) { return i >= begin && i < end ? *i : '\0'; }

// The rule of find_fixed_candidate for the one byte at `i`.
bool is_fixed_candidate(const char* begin, const char* i, const char* end, int precision) {
    const auto at = [&](int k) { return byte_at(begin, i + k, end); };
    const char c = *i, prev = at(-1);
    if ((c | 0x20) == 'e' || (c | 0x20) == 'p') return is_digit(prev) || prev == '.';
    if ((c | 0x20) == 'x') return prev == '0';
    if (c == '+') return true;
    bool run = true;  // i and the seven bytes after it are digits
    for (int k = 0; k < 8 && run; ++k) run = is_digit(at(k));
    if (run) return true;
    if (c == '0') {
        if (is_digit(at(1))) return !is_digit(prev) && prev != '.';  // a leading zero
        for (int k = 1; k <= precision; ++k) {
            if (at(-k) == '.') return true;  // perhaps a fraction's last digit
        }
        return false;
    }
    if (c != '.') return false;
    if (precision == 0 || !is_digit(prev) || !is_digit(at(1))) return true;
    for (int k = 2; k <= precision + 1; ++k) {
        if (!is_digit(at(k))) return at(k) == '.';  // digits, then another point
    }
    return true;  // more than `precision` decimals
}

using ByteRule = bool (*)(const char* begin, const char* i, const char* end, int precision);

// The search one byte at a time.
template <ByteRule Rule>
const char* find_bytes(const char* begin, const char* p, const char* end, int precision) {
    for (; p < end; ++p) {
        if (Rule(begin, p, end, precision)) return p;
    }
    return end;
}

#ifdef MAPCLEAN_BLOCKS

// The rules for a block of WIDTH bytes at `at`, as a mask of the hits,
// written once with the compiler's vector types for each width (V: signed
// bytes, whose comparisons give all-ones lanes; UV: the same unsigned, for
// arithmetic that wraps) and defined as a function of its own for each, so
// that GCC and clang both compile the AVX2 ones, and only they, for AVX2.

// is_automatic_candidate's rule; reads one byte before the block and two
// after it.
#define MAPCLEAN_DEFINE_AUTOMATIC_BLOCK(NAME, TARGET, V, UV, WIDTH, MOVEMASK)                \
    TARGET unsigned NAME(const char* at, int) {                                               \
        V none = {};                                                                          \
        V b, prev, next1, next2;                                                              \
        __builtin_memcpy(&b, at, WIDTH);                                                      \
        __builtin_memcpy(&prev, at - 1, WIDTH);                                               \
        __builtin_memcpy(&next1, at + 1, WIDTH);                                              \
        __builtin_memcpy(&next2, at + 2, WIDTH);                                              \
        const V lower = b | (none + 0x20);                                                    \
        const V prevDigit = (V)(((UV)prev - (UV)(none + '0')) < (UV)(none + 10));             \
        const V prevPoint = (V)(prev == (none + '.'));                                        \
        V hits = (V)(lower == (none + 'e')) & (prevDigit | prevPoint);                        \
        hits |= (V)(lower == (none + 'x')) & (V)(prev == (none + '0'));                       \
        const V zeros = none + '0', nines = none + '9';                                       \
        hits |= (V)(b == zeros) & (V)(next1 == zeros) & (V)(next2 == zeros);                  \
        hits |= (V)(b == nines) & (V)(next1 == nines) & (V)(next2 == nines);                  \
        return static_cast<unsigned>(MOVEMASK);                                               \
    }

// is_fixed_candidate's rule; reads six bytes before the block and eight
// after it.
#define MAPCLEAN_DEFINE_FIXED_BLOCK(NAME, TARGET, V, UV, WIDTH, MOVEMASK)                    \
    TARGET unsigned NAME(const char* at, int precision) {                                    \
        V none = {};                                                                          \
        V b, prev, here;                                                                      \
        __builtin_memcpy(&b, at, WIDTH);                                                      \
        __builtin_memcpy(&prev, at - 1, WIDTH);                                               \
        V digits[8], points[8];                                                               \
        for (int k = 0; k < 8; ++k) {                                                         \
            __builtin_memcpy(&here, at + k, WIDTH);                                           \
            digits[k] = (V)(((UV)here - (UV)(none + '0')) < (UV)(none + 10));                 \
            points[k] = (V)(here == (none + '.'));                                            \
        }                                                                                     \
        const V lower = b | (none + 0x20);                                                    \
        const V prevDigit = (V)(((UV)prev - (UV)(none + '0')) < (UV)(none + 10));             \
        const V prevPoint = (V)(prev == (none + '.'));                                        \
        V hits = (V)((lower == (none + 'e')) | (lower == (none + 'p'))) & (prevDigit | prevPoint); \
        hits |= (V)(lower == (none + 'x')) & (V)(prev == (none + '0'));                       \
        hits |= (V)(b == (none + '+'));                                                       \
        V run = digits[0];                                                                    \
        for (int k = 1; k < 8; ++k) run &= digits[k];                                         \
        hits |= run;                                                                          \
        const V zero = (V)(b == (none + '0'));                                                \
        hits |= zero & digits[1] & ~prevDigit & ~prevPoint;                                   \
        V pointBefore = none;                                                                 \
        for (int k = 1; k <= precision; ++k) {                                                \
            __builtin_memcpy(&here, at - k, WIDTH);                                           \
            pointBefore |= (V)(here == (none + '.'));                                         \
        }                                                                                     \
        hits |= zero & ~digits[1] & pointBefore;                                              \
        V pointRule = precision == 0 ? ~none : (~prevDigit | ~digits[1]);                     \
        V digitsSoFar = digits[1];                                                            \
        for (int k = 2; k <= precision + 1; ++k) {                                            \
            pointRule |= digitsSoFar & points[k];                                             \
            digitsSoFar &= digits[k];                                                         \
        }                                                                                     \
        if (precision > 0) pointRule |= digitsSoFar;                                          \
        hits |= points[0] & pointRule;                                                        \
        return static_cast<unsigned>(MOVEMASK);                                               \
    }

typedef char V16 __attribute__((vector_size(16)));
typedef unsigned char UV16 __attribute__((vector_size(16)));
typedef char V32 __attribute__((vector_size(32)));
typedef unsigned char UV32 __attribute__((vector_size(32)));

#ifdef MAPCLEAN_X86
#define MAPCLEAN_AVX2 __attribute__((target("avx2")))
MAPCLEAN_DEFINE_AUTOMATIC_BLOCK(automatic_hits_sse2, , V16, UV16, 16, _mm_movemask_epi8((__m128i)hits))
MAPCLEAN_DEFINE_AUTOMATIC_BLOCK(automatic_hits_avx2, MAPCLEAN_AVX2, V32, UV32, 32, _mm256_movemask_epi8((__m256i)hits))
MAPCLEAN_DEFINE_FIXED_BLOCK(fixed_hits_sse2, , V16, UV16, 16, _mm_movemask_epi8((__m128i)hits))
MAPCLEAN_DEFINE_FIXED_BLOCK(fixed_hits_avx2, MAPCLEAN_AVX2, V32, UV32, 32, _mm256_movemask_epi8((__m256i)hits))
#else
// WebAssembly's 128-bit SIMD: the same 16-byte blocks, its bitmask for SSE2's movemask.
MAPCLEAN_DEFINE_AUTOMATIC_BLOCK(automatic_hits_sse2, , V16, UV16, 16, wasm_i8x16_bitmask((v128_t)hits))
MAPCLEAN_DEFINE_FIXED_BLOCK(fixed_hits_sse2, , V16, UV16, 16, wasm_i8x16_bitmask((v128_t)hits))
#endif

// The search WIDTH bytes at a time with Block, whose rule reads Before bytes
// before a block and After after it; the bytes too near either end of the
// text go byte by byte with Rule, the same rule.
template <unsigned (*Block)(const char*, int), int Width, int Before, int After, ByteRule Rule>
const char* find_blocks(const char* begin, const char* p, const char* end, int precision) {
    for (; p < end && p - begin < Before; ++p) {
        if (Rule(begin, p, end, precision)) return p;
    }
    for (; end - p >= Width + After; p += Width) {
        if (const unsigned mask = Block(p, precision)) return p + __builtin_ctz(mask);
    }
    return find_bytes<Rule>(begin, p, end, precision);
}

#endif

#ifdef MAPCLEAN_X86
bool has_avx2() {
    __builtin_cpu_init();  // may run before the runtime's own constructors
    return __builtin_cpu_supports("avx2");
}
#endif

}  // namespace

SimdWidth widest_simd_width() {
#ifdef MAPCLEAN_X86
    static const SimdWidth widest = has_avx2() ? SimdWidth::avx2 : SimdWidth::sse2;
    return widest;
#elif defined(MAPCLEAN_BLOCKS)
    return SimdWidth::sse2;
#else
    return SimdWidth::portable;
#endif
}

bool simd_width_supported(SimdWidth width) {
    return static_cast<int>(width) <= static_cast<int>(widest_simd_width());
}

const char* find_fixed_candidate(const char* begin, const char* p, const char* end, int precision, SimdWidth width) {
    switch (width) {
#ifdef MAPCLEAN_X86
    case SimdWidth::avx2:
        return find_blocks<fixed_hits_avx2, 32, 6, 8, is_fixed_candidate>(begin, p, end, precision);
#endif
#ifdef MAPCLEAN_BLOCKS
    case SimdWidth::sse2:
        return find_blocks<fixed_hits_sse2, 16, 6, 8, is_fixed_candidate>(begin, p, end, precision);
#endif
    default:
        return find_bytes<is_fixed_candidate>(begin, p, end, precision);
    }
}

const char* find_automatic_candidate(const char* begin, const char* p, const char* end, SimdWidth width) {
    switch (width) {
#ifdef MAPCLEAN_X86
    case SimdWidth::avx2:
        return find_blocks<automatic_hits_avx2, 32, 1, 2, is_automatic_candidate>(begin, p, end, 0);
#endif
#ifdef MAPCLEAN_BLOCKS
    case SimdWidth::sse2:
        return find_blocks<automatic_hits_sse2, 16, 1, 2, is_automatic_candidate>(begin, p, end, 0);
#endif
    default:
        return find_bytes<is_automatic_candidate>(begin, p, end, 0);
    }
}
