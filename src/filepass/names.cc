#include "filepass/names.h"

#include <algorithm>

namespace {

bool is_control(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// The letter of a control byte's short C escape ("\n" has 'n'), or 0.
char escape_letter(char c) {
    switch (c) {
    case '\a': return 'a';
    case '\b': return 'b';
    case '\t': return 't';
    case '\n': return 'n';
    case '\v': return 'v';
    case '\f': return 'f';
    case '\r': return 'r';
    default: return 0;
    }
}

void append_octal(std::string& out, char c) {
    const auto byte = static_cast<unsigned char>(c);
    out.append(1, '\\').append(1, static_cast<char>('0' + (byte >> 6)));
    out.append(1, static_cast<char>('0' + ((byte >> 3) & 7))).append(1, static_cast<char>('0' + (byte & 7)));
}

}  // namespace

void put_printable_name(std::string_view name, void (*put)(std::string_view piece, void* context), void* context) {
    if (std::none_of(name.begin(), name.end(), is_control)) {
        put(name, context);
        return;
    }
    size_t plainFrom = 0;  // the bytes since the last escape, handed on together
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        char escape[4] = {'\\', 0, 0, 0};
        size_t length = 2;
        if (c == '\\') {
            escape[1] = '\\';
        } else if (const char letter = escape_letter(c)) {
            escape[1] = letter;
        } else if (c == '\x1b') {
            escape[1] = 'e';
        } else if (is_control(c)) {
            constexpr char kDigits[] = "0123456789abcdef";
            const auto byte = static_cast<unsigned char>(c);
            escape[1] = 'x';
            escape[2] = kDigits[byte >> 4];
            escape[3] = kDigits[byte & 15];
            length = 4;
        } else {
            continue;
        }
        put(name.substr(plainFrom, i - plainFrom), context);
        put(std::string_view(escape, length), context);
        plainFrom = i + 1;
    }
    put(name.substr(plainFrom), context);
}

std::string printable_name(std::string_view name) {
    std::string out;
    put_printable_name(name, [](std::string_view piece, void* context) { static_cast<std::string*>(context)->append(piece); },
                       &out);
    return out;
}

std::string quoted_name(std::string_view name, bool backslashIsName) {
    const auto needsQuotes = [&](char c) { return is_control(c) || c == '"' || (c == '\\' && backslashIsName); };
    if (std::none_of(name.begin(), name.end(), needsQuotes)) return std::string(name);
    std::string out = "\"";
    for (const char c : name) {
        if (c == '"' || (c == '\\' && backslashIsName)) {
            out.append(1, '\\').append(1, c);
        } else if (const char letter = escape_letter(c)) {
            out.append(1, '\\').append(1, letter);
        } else if (is_control(c)) {
            append_octal(out, c);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string diff_label(std::string_view name, bool backslashIsName) {
    std::string label = quoted_name(name, backslashIsName);
    if (name.find_first_of(" \t") != std::string_view::npos) label += '\t';
    return label;
}
