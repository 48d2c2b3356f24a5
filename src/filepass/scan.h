// The scan of one file's text: copies it byte for byte, replacing every
// number token by its rewritten form. Pure: no files, no console, no clock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// One token whose rewritten text differs from the text in the file.
struct Edit {
    std::string_view original;
    std::string_view replacement;
    int64_t line;  // 1 plus the number of '\n' bytes before the token
};

// Called once per edit, in file order; the views live only during the call.
using EditSink = std::function<void(const Edit&)>;

// Appends to `out` the text with every number token rewritten by
// process_number_token(token, value, precision), and returns the number of
// tokens whose text changed. Every other byte is copied as it is, CR, tab
// and bytes of 0x80 and above included. The text is scanned up to its first
// NUL byte; that byte and all after it are copied through unchanged.
// `onEdit`, when set, hears of each edit. Throws std::bad_alloc when `out`
// cannot grow (`out` then holds a partial result).
int64_t scan_text(std::string_view text, int32_t precision, std::string& out,
                  const EditSink& onEdit = {});
