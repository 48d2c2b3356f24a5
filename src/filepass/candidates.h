// Where automatic mode can change anything, found many bytes at a time: the
// scan looks closely only around these places.
#pragma once

// How many bytes a search takes at once.
enum class SimdWidth {
    portable,  // one byte at a time, on any processor
    sse2,      // 16 bytes (every x86-64 processor)
    avx2,      // 32 bytes, where the processor has AVX2
};

// The widest search this processor and build support.
SimdWidth widest_simd_width();

// Makes later searches use `width` (the tests try each); false, changing
// nothing, when this processor or build does not support it.
bool use_simd_width(SimdWidth width);

// The first position in [p, end) where a token may be one that automatic
// mode changes, or end: an 'e' or 'E' after a digit or '.' (an exponent),
// an 'x' or 'X' after '0' (a hexadecimal form, whose digits may hold an e),
// or three '0' or three '9' in a row (a zero or nine run). Every token that
// automatic mode rewrites holds such a place. `begin` is where the text
// starts: the byte before `p` is read when p > begin.
const char* find_automatic_candidate(const char* begin, const char* p, const char* end);
