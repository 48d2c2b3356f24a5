#include "filepass/candidates.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define MAPCLEAN_X86 1
#endif

namespace {

bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The rule of find_automatic_candidate for the one byte at `i`.
bool is_candidate(const char* begin, const char* i, const char* end) {
    const char c = *i;
    if ((c | 0x20) == 'e') return i > begin && (is_digit(i[-1]) || i[-1] == '.');
    if ((c | 0x20) == 'x') return i > begin && i[-1] == '0';
    if (c == '0' || c == '9') return end - i >= 3 && i[1] == c && i[2] == c;
    return false;
}

const char* find_portable(const char* begin, const char* p, const char* end) {
    for (; p < end; ++p) {
        if (is_candidate(begin, p, end)) return p;
    }
    return end;
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

const char* find_fixed_portable(const char* begin, const char* p, const char* end, int precision) {
    for (; p < end; ++p) {
        if (is_fixed_candidate(begin, p, end, precision)) return p;
    }
    return end;
}

#ifdef MAPCLEAN_X86

// The rule of is_fixed_candidate for a block of WIDTH bytes at `at`, as a
// mask of the hits, written once with the compiler's vector types for each
// width (V: signed bytes, whose comparisons give all-ones lanes; UV: the
// same unsigned, for arithmetic that wraps) and defined as a function of its own for each, so that
// GCC and clang both compile the AVX2 one, and only it, for AVX2.
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

MAPCLEAN_DEFINE_FIXED_BLOCK(fixed_hits_sse2, , V16, UV16, 16, _mm_movemask_epi8((__m128i)hits))
MAPCLEAN_DEFINE_FIXED_BLOCK(fixed_hits_avx2, __attribute__((target("avx2"))), V32, UV32, 32,
                            _mm256_movemask_epi8((__m256i)hits))

// The search, WIDTH bytes at a time with BLOCK, the first six bytes (which
// have too few before them) and the last ones byte by byte.
template <unsigned (*Block)(const char*, int), int Width>
const char* find_fixed_blocks(const char* begin, const char* p, const char* end, int precision) {
    for (; p < end && p - begin < 6; ++p) {
        if (is_fixed_candidate(begin, p, end, precision)) return p;
    }
    for (; end - p >= Width + 8; p += Width) {
        if (const unsigned mask = Block(p, precision)) return p + __builtin_ctz(mask);
    }
    return find_fixed_portable(begin, p, end, precision);
}

// The same rule for the 16 bytes at p, given the bytes one before (prev)
// and one and two after (next1, next2): a mask of the hits.
inline __m128i hits_sse2(__m128i bytes, __m128i prev, __m128i next1, __m128i next2) {
    const __m128i caseBit = _mm_set1_epi8(0x20);
    const __m128i lower = _mm_or_si128(bytes, caseBit);
    const __m128i zero = _mm_set1_epi8('0');
    const __m128i nine = _mm_set1_epi8('9');
    // prev - '0' <= 9, unsigned: a digit.
    const __m128i offset = _mm_sub_epi8(prev, zero);
    const __m128i prevDigit = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(9)), offset);
    const __m128i prevPoint = _mm_cmpeq_epi8(prev, _mm_set1_epi8('.'));
    const __m128i exponent = _mm_and_si128(_mm_cmpeq_epi8(lower, _mm_set1_epi8('e')), _mm_or_si128(prevDigit, prevPoint));
    const __m128i hex = _mm_and_si128(_mm_cmpeq_epi8(lower, _mm_set1_epi8('x')), _mm_cmpeq_epi8(prev, zero));
    const __m128i zeros = _mm_and_si128(_mm_cmpeq_epi8(bytes, zero),
                                        _mm_and_si128(_mm_cmpeq_epi8(next1, zero), _mm_cmpeq_epi8(next2, zero)));
    const __m128i nines = _mm_and_si128(_mm_cmpeq_epi8(bytes, nine),
                                        _mm_and_si128(_mm_cmpeq_epi8(next1, nine), _mm_cmpeq_epi8(next2, nine)));
    return _mm_or_si128(_mm_or_si128(exponent, hex), _mm_or_si128(zeros, nines));
}

const char* find_sse2(const char* begin, const char* p, const char* end) {
    if (p == begin && p < end) {
        if (is_candidate(begin, p, end)) return p;
        ++p;
    }
    // Each step reads one byte before and two after its 16.
    for (; end - p >= 18; p += 16) {
        const auto load = [](const char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
        const int mask = _mm_movemask_epi8(hits_sse2(load(p), load(p - 1), load(p + 1), load(p + 2)));
        if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    }
    return find_portable(begin, p, end);
}

__attribute__((target("avx2"))) const char* find_avx2(const char* begin, const char* p, const char* end) {
    if (p == begin && p < end) {
        if (is_candidate(begin, p, end)) return p;
        ++p;
    }
    const __m256i caseBit = _mm256_set1_epi8(0x20);
    const __m256i zero = _mm256_set1_epi8('0');
    const __m256i nine = _mm256_set1_epi8('9');
    const __m256i letterE = _mm256_set1_epi8('e');
    const __m256i letterX = _mm256_set1_epi8('x');
    const __m256i point = _mm256_set1_epi8('.');
    const __m256i ten = _mm256_set1_epi8(9);
    for (; end - p >= 34; p += 32) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i prev = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p - 1));
        const __m256i next1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
        const __m256i next2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2));
        const __m256i lower = _mm256_or_si256(bytes, caseBit);
        const __m256i offset = _mm256_sub_epi8(prev, zero);
        const __m256i prevDigit = _mm256_cmpeq_epi8(_mm256_min_epu8(offset, ten), offset);
        const __m256i prevPoint = _mm256_cmpeq_epi8(prev, point);
        const __m256i exponent =
            _mm256_and_si256(_mm256_cmpeq_epi8(lower, letterE), _mm256_or_si256(prevDigit, prevPoint));
        const __m256i hex = _mm256_and_si256(_mm256_cmpeq_epi8(lower, letterX), _mm256_cmpeq_epi8(prev, zero));
        const __m256i zeros = _mm256_and_si256(
            _mm256_cmpeq_epi8(bytes, zero), _mm256_and_si256(_mm256_cmpeq_epi8(next1, zero), _mm256_cmpeq_epi8(next2, zero)));
        const __m256i nines = _mm256_and_si256(
            _mm256_cmpeq_epi8(bytes, nine), _mm256_and_si256(_mm256_cmpeq_epi8(next1, nine), _mm256_cmpeq_epi8(next2, nine)));
        const __m256i hits = _mm256_or_si256(_mm256_or_si256(exponent, hex), _mm256_or_si256(zeros, nines));
        const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(hits));
        if (mask != 0) return p + __builtin_ctz(mask);
    }
    return find_sse2(begin, p, end);
}

bool has_avx2() {
    __builtin_cpu_init();  // may run before the runtime's own constructors
    return __builtin_cpu_supports("avx2");
}

#endif

SimdWidth g_width = widest_simd_width();

}  // namespace

SimdWidth widest_simd_width() {
#ifdef MAPCLEAN_X86
    return has_avx2() ? SimdWidth::avx2 : SimdWidth::sse2;
#else
    return SimdWidth::portable;
#endif
}

bool use_simd_width(SimdWidth width) {
    if (static_cast<int>(width) > static_cast<int>(widest_simd_width())) return false;
    g_width = width;
    return true;
}

const char* find_fixed_candidate(const char* begin, const char* p, const char* end, int precision) {
    switch (g_width) {
#ifdef MAPCLEAN_X86
    case SimdWidth::avx2:
        return find_fixed_blocks<fixed_hits_avx2, 32>(begin, p, end, precision);
    case SimdWidth::sse2:
        return find_fixed_blocks<fixed_hits_sse2, 16>(begin, p, end, precision);
#endif
    default:
        return find_fixed_portable(begin, p, end, precision);
    }
}

const char* find_automatic_candidate(const char* begin, const char* p, const char* end) {
    switch (g_width) {
#ifdef MAPCLEAN_X86
    case SimdWidth::avx2:
        return find_avx2(begin, p, end);
    case SimdWidth::sse2:
        return find_sse2(begin, p, end);
#endif
    default:
        return find_portable(begin, p, end);
    }
}
