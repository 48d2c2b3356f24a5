// Windows only: names and texts between the program, which holds them as
// UTF-8, and the system's wide ("W") functions, which take UTF-16. A name
// may hold a lone surrogate, which no UTF-8 encodes: such a code unit is
// written as UTF-8 writes any other code point below 0x10000 (as WTF-8
// does), so that every name the system gives comes back to it exactly.
#pragma once

#include <string>
#include <string_view>

// `text` (UTF-8, or WTF-8 as made by narrow) in UTF-16. A byte that begins
// no such sequence becomes U+FFFD.
std::wstring wide(std::string_view text);

// The same into `out`, which must hold text.size() code units, allocating
// nothing; returns how many it wrote.
size_t wide_into(std::string_view text, wchar_t* out);

// The length of the longest prefix of `text` that does not end inside a
// sequence that its next bytes may complete: where a text written in parts
// can be converted up to.
size_t complete_prefix(std::string_view text);

// `text` (UTF-16, lone surrogates allowed) in UTF-8 as above.
std::string narrow(std::wstring_view text);

// The number of UTF-16 code units of wide(text), without making it.
size_t wide_length(std::string_view text);
