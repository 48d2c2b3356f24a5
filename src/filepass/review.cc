#include "filepass/review.h"

#include <algorithm>
#include <vector>

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

class DiffWriter {
public:
    explicit DiffWriter(bool colour) : colour_(colour) {}
    std::string out;

    void header(size_t from, size_t count) {
        const std::string line = "@@ -" + range(from, count) + " +" + range(from, count) + " @@";
        out += colour_ ? "\x1b[36m" + line + "\x1b[m\n" : line + "\n";
    }
    void line(char mark, std::string_view text) {
        const bool ended = text.ends_with('\n');
        if (ended) text.remove_suffix(1);
        const char* paint = !colour_ ? nullptr : mark == '-' ? "\x1b[31m" : mark == '+' ? "\x1b[32m" : nullptr;
        if (paint) out += paint;
        out += mark;
        out += text;
        if (paint) out += "\x1b[m";
        out += '\n';
        if (!ended) out += "\\ No newline at end of file\n";
    }

private:
    const bool colour_;
};

std::string escaped(std::string_view text, bool property) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '%': out += "%25"; break;
        case '\r': out += "%0D"; break;
        case '\n': out += "%0A"; break;
        case ':': out += property ? "%3A" : ":"; break;
        case ',': out += property ? "%2C" : ","; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace

std::string unified_diff(std::string_view path, std::string_view oldText, std::string_view newText,
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
    writer.out = "--- " + std::string(path) + "\n+++ " + std::string(path) + "\n";
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
            for (size_t r = i; r < runEnd; ++r) writer.line('-', oldLines[r]);
            for (size_t r = i; r < runEnd; ++r) writer.line('+', newLines[r]);
            i = runEnd;
        }
        k = next;
    }
    return std::move(writer.out);
}

std::string github_annotation(std::string_view path, int64_t line, int64_t edits, std::string_view oldToken,
                              std::string_view newToken) {
    const std::string message = "floating-point noise: " + std::to_string(edits) + " edits, first '" +
                                std::string(oldToken) + "' -> '" + std::string(newToken) + "'";
    return "::warning file=" + escaped(path, true) + ",line=" + std::to_string(line) +
           ",title=mapclean::" + escaped(message, false) + "\n";
}
