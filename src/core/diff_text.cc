#include "core/diff_text.h"

#include <algorithm>
#include <vector>

#include "core/token_scan.h"

namespace {

constexpr size_t kContext = 3;

// The lines of `text`, each with its '\n' (the last may have none).
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const size_t length = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(0, length));
        text.remove_prefix(length);
    }
    return lines;
}

// A hunk's range: "l" for one line, else "l,n" (l counted from 1).
std::string range(size_t from, size_t count) {
    std::string text = std::to_string(from + 1);
    if (count != 1) text.append(",").append(std::to_string(count));
    return text;
}

// The runs of `line`: maximal stretches of bytes that may stand in a number
// token, or of other bytes. A rewrite replaces one run of the first kind
// that stands alone by another, so the runs of an old line and its new line
// pair up, and the pairs that differ are the changed numbers.
std::vector<std::string_view> runs_of(std::string_view line) {
    std::vector<std::string_view> runs;
    for (size_t i = 0; i < line.size();) {
        const bool token = may_be_in_token(line[i]);
        size_t end = i + 1;
        while (end < line.size() && may_be_in_token(line[end]) == token) ++end;
        runs.push_back(line.substr(i, end - i));
        i = end;
    }
    return runs;
}

class DiffWriter {
public:
    explicit DiffWriter(bool colour) : colour_(colour) {}
    std::string out;

    void header(size_t from, size_t count) {
        const std::string line = "@@ -" + range(from, count) + " +" + range(from, count) + " @@";
        out += colour_ ? "\x1b[36m" + line + "\x1b[m\n" : line + "\n";
    }
    // A line of the hunk; `other` is its counterpart (the new line of an
    // old one, or the old of a new), whose differing runs colour marks.
    void line(char mark, std::string_view text, std::string_view other = {}) {
        const bool ended = text.ends_with('\n');
        if (ended) text.remove_suffix(1);
        if (other.ends_with('\n')) other.remove_suffix(1);
        const char* paint = !colour_ ? nullptr : mark == '-' ? "\x1b[31m" : mark == '+' ? "\x1b[32m" : nullptr;
        if (paint) out += paint;
        out += mark;
        if (paint) {
            marked(text, other);
            out += "\x1b[m";
        } else {
            out += text;
        }
        out += '\n';
        if (!ended) out += "\\ No newline at end of file\n";
    }

private:
    // `text` with each run that differs from `other`'s in reverse video;
    // all of it plain when the runs do not pair up.
    void marked(std::string_view text, std::string_view other) {
        const std::vector<std::string_view> mine = runs_of(text), theirs = runs_of(other);
        if (mine.size() != theirs.size()) {
            out += text;
            return;
        }
        for (size_t i = 0; i < mine.size(); ++i) {
            if (mine[i] == theirs[i]) {
                out += mine[i];
            } else {
                out.append("\x1b[7m").append(mine[i]).append("\x1b[27m");
            }
        }
    }

    const bool colour_;
};

// The escapes GitHub requires in a workflow command: in the message % CR LF;
// in a property also ':' and ','. In a property, every other control byte
// too, so that a hostile name can neither end the line nor move the cursor.
std::string escaped(std::string_view text, bool property) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool control = byte < 0x20 || byte == 0x7f;
        if (c == '%' || c == '\r' || c == '\n' || (property && (c == ':' || c == ',' || control))) {
            out.append(1, '%').append(1, kDigits[byte >> 4]).append(1, kDigits[byte & 15]);
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string unified_diff(std::string_view label, std::string_view oldText, std::string_view newText,
                         bool colour) {
    const std::vector<std::string_view> oldLines = split_lines(oldText);
    const std::vector<std::string_view> newLines = split_lines(newText);
    const size_t count = std::min(oldLines.size(), newLines.size());
    std::vector<size_t> changed;
    for (size_t i = 0; i < count; ++i) {
        if (oldLines[i] != newLines[i]) changed.push_back(i);
    }
    if (changed.empty()) return std::string();

    DiffWriter writer(colour);
    writer.out = "--- " + std::string(label) + "\n+++ " + std::string(label) + "\n";
    for (size_t k = 0; k < changed.size();) {
        // Changes at most two contexts apart share a hunk, as diff -u joins them.
        size_t next = k + 1;
        while (next < changed.size() && changed[next] - changed[next - 1] - 1 <= 2 * kContext) ++next;
        const size_t from = changed[k] >= kContext ? changed[k] - kContext : 0;
        const size_t to = std::min(count, changed[next - 1] + 1 + kContext);
        writer.header(from, to - from);
        for (size_t i = from; i < to;) {
            if (oldLines[i] == newLines[i]) {
                writer.line(' ', oldLines[i++]);
                continue;
            }
            size_t runEnd = i;
            while (runEnd < to && oldLines[runEnd] != newLines[runEnd]) ++runEnd;
            for (size_t r = i; r < runEnd; ++r) writer.line('-', oldLines[r], newLines[r]);
            for (size_t r = i; r < runEnd; ++r) writer.line('+', newLines[r], oldLines[r]);
            i = runEnd;
        }
        k = next;
    }
    return std::move(writer.out);
}

std::string github_annotation(std::string_view path, int64_t line, int64_t edits, std::string_view oldToken,
                              std::string_view newToken) {
    // Most edits of real maps are padding ("1.000000" -> "1"), not noise: say what happens.
    std::string message = edits == 1 ? std::string("1 number would be rewritten: ")
                                     : std::to_string(edits) + " numbers would be rewritten, first ";
    message.append("'").append(oldToken).append("' -> '").append(newToken).append("'");
    return "::warning file=" + escaped(path, true) + ",line=" + std::to_string(line) +
           ",title=mapclean::" + escaped(message, false) + "\n";
}
