// Where automatic mode can change anything, found many bytes at a time: the
// scan looks closely only around these places.
#pragma once

// How many bytes a search takes at once.
enum class SimdWidth {
    portable,  // one byte at a time, on any processor
    sse2,      // 16 bytes (SSE2: every x86-64 processor; SIMD128 in WebAssembly)
    avx2,      // 32 bytes, where the processor has AVX2
};

// The widest search this processor and build support, found once.
SimdWidth widest_simd_width();

// True when this processor and build support searches of `width`.
bool simd_width_supported(SimdWidth width);

// The first position in [p, end) where a token may be one that automatic
// mode changes, or end: an 'e' or 'E' after a digit or '.' (an exponent),
// an 'x' or 'X' after '0' (a hexadecimal form, whose digits may hold an e),
// or three '0' or three '9' in a row (a zero or nine run). Every token that
// automatic mode rewrites holds such a place. `begin` is where the text
// starts: the byte before `p` is read when p > begin. The search takes
// `width` bytes at a time, which this processor must support.
const char* find_automatic_candidate(const char* begin, const char* p, const char* end, SimdWidth width);

// The widest precision find_fixed_candidate serves.
constexpr int kMaxFixedCandidatePrecision = 6;

// How far past a place find_fixed_candidate returns a token it points at may
// begin: the scan must look at the tokens that begin before place + this.
constexpr int kFixedCandidateReach = 9;

// Fixed-precision mode at `precision` (0 to kMaxFixedCandidatePrecision):
// the first position in [p, end) near which a token may be one that the
// rounding does not provably keep, or end. Every token that is not a plain
// decimal of the shape stable_decimal_length passes over (or is followed by
// a byte that would make it longer) has such a place within it, or in a
// token it directly follows (no byte between that no token can hold), or at
// most kFixedCandidateReach - 1 bytes before its start: an exponent or
// hexadecimal letter, a '+', a point with no digit on one side, with more
// than `precision` digits after it or followed by digits and another point,
// a leading zero, a '0' ending a fraction, or eight digits in a row.
// `begin` is where the text starts: up to six bytes before `p` are read.
// The search takes `width` bytes at a time, which this processor must support.
const char* find_fixed_candidate(const char* begin, const char* p, const char* end, int precision, SimdWidth width);
