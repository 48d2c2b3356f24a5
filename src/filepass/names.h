// File names as lines of output show them, so that no name can move the
// cursor, split a line or forge another. Pure: text in, text out.
#pragma once

#include <string>
#include <string_view>

// `name` for a line meant for a person or a CI log: exactly as it is when
// it holds no control byte (below 0x20, or 0x7f); otherwise with each
// control byte written as a C escape ("\n", "\t", "\e", "\x01") and each
// '\' doubled, so that the escapes cannot be mistaken for the name's own
// bytes. Other bytes, non-ASCII ones included, stay as they are.
std::string printable_name(std::string_view name);

// Hands printable_name(name) to `put` piece by piece, in order, allocating
// nothing: for the lines that memory running out still has to print.
void put_printable_name(std::string_view name, void (*put)(std::string_view piece, void* context), void* context);

// `name` as git quotes a path: as it is unless it holds a control byte, a
// '"' or (where `backslashIsName`, that is, where '\' is no path separator)
// a '\'; then in double quotes with C escapes ("\n", "\t", "\"", "\\",
// "\033") that give the name back exactly.
std::string quoted_name(std::string_view name, bool backslashIsName);

// The label of `name` in a unified diff's "---" and "+++" lines, as git
// writes it, so that `patch` finds the file: quoted_name, followed by a tab
// when the name holds a space or a tab (which would end it otherwise).
std::string diff_label(std::string_view name, bool backslashIsName);
