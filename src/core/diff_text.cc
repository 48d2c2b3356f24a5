#include "core/diff_text.h"

#include <algorithm>
#include <deque>
#include <iterator>
#include <vector>

#include "core/token_scan.h"

namespace {

constexpr size_t kContext = 3;

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

// One line of the old text and the same line of the new, kept while they
// may still be shown.
struct LinePair {
    std::string oldLine, newLine;
    bool changed() const { return oldLine != newLine; }
};

struct UnifiedDiffStream::State {
    State(std::string_view label, bool colour, Output out) : label(label), writer(colour), out(std::move(out)) {}
    std::string label;
    DiffWriter writer;
    Output out;
    std::string oldPartial, newPartial;  // a line begun in the last stretch
    size_t lineNumber = 0;               // of the next whole line, from 0
    std::deque<LinePair> before;         // up to kContext unchanged lines before the next change
    std::vector<LinePair> hunk;          // the hunk being made, from its first context line
    size_t hunkFrom = 0;
    size_t unchangedSince = 0;           // unchanged lines at the hunk's end
    bool any = false;

    void line(LinePair pair) {
        const bool changed = pair.changed();
        ++lineNumber;
        if (!hunk.empty()) {
            hunk.push_back(std::move(pair));
            unchangedSince = changed ? 0 : unchangedSince + 1;
            // Changes more than two contexts apart go to separate hunks, as
            // diff -u makes them: this one ends after its trailing context.
            if (unchangedSince > 2 * kContext) {
                for (LinePair& kept : close_hunk()) keep_before(std::move(kept));
            }
            return;
        }
        if (!changed) {
            keep_before(std::move(pair));
            return;
        }
        hunkFrom = lineNumber - 1 - before.size();
        hunk.assign(std::make_move_iterator(before.begin()), std::make_move_iterator(before.end()));
        before.clear();
        hunk.push_back(std::move(pair));
        unchangedSince = 0;
    }

    void keep_before(LinePair pair) {
        before.push_back(std::move(pair));
        if (before.size() > kContext) before.pop_front();
    }

    // Writes the hunk with at most kContext lines of trailing context, and
    // returns the unchanged lines past those.
    std::vector<LinePair> close_hunk() {
        const size_t extra = unchangedSince > kContext ? unchangedSince - kContext : 0;
        std::vector<LinePair> rest(std::make_move_iterator(hunk.end() - static_cast<std::ptrdiff_t>(extra)),
                                   std::make_move_iterator(hunk.end()));
        hunk.resize(hunk.size() - extra);
        emit();
        return rest;
    }

    // Writes the hunk as it stands (the file's header first, once).
    void emit() {
        if (!any) {
            any = true;
            out("--- " + label + "\n+++ " + label + "\n");
        }
        writer.out.clear();
        writer.header(hunkFrom, hunk.size());
        for (size_t i = 0; i < hunk.size();) {
            if (!hunk[i].changed()) {
                writer.line(' ', hunk[i++].oldLine);
                continue;
            }
            size_t runEnd = i;
            while (runEnd < hunk.size() && hunk[runEnd].changed()) ++runEnd;
            for (size_t r = i; r < runEnd; ++r) writer.line('-', hunk[r].oldLine, hunk[r].newLine);
            for (size_t r = i; r < runEnd; ++r) writer.line('+', hunk[r].newLine, hunk[r].oldLine);
            i = runEnd;
        }
        out(writer.out);
        hunk.clear();
    }
};

UnifiedDiffStream::UnifiedDiffStream(std::string_view label, bool colour, Output out)
    : state_(std::make_unique<State>(label, colour, std::move(out))) {}

UnifiedDiffStream::~UnifiedDiffStream() = default;

void UnifiedDiffStream::add(std::string_view oldText, std::string_view newText) {
    State& s = *state_;
    for (;;) {
        const size_t oldEnd = oldText.find('\n');
        const size_t newEnd = newText.find('\n');
        if (oldEnd == std::string_view::npos || newEnd == std::string_view::npos) break;
        LinePair pair{s.oldPartial.append(oldText.substr(0, oldEnd + 1)), s.newPartial.append(newText.substr(0, newEnd + 1))};
        s.oldPartial.clear();
        s.newPartial.clear();
        s.line(std::move(pair));
        oldText.remove_prefix(oldEnd + 1);
        newText.remove_prefix(newEnd + 1);
    }
    s.oldPartial.append(oldText);
    s.newPartial.append(newText);
}

bool UnifiedDiffStream::finish() {
    State& s = *state_;
    if (!s.oldPartial.empty() || !s.newPartial.empty()) {
        s.line(LinePair{std::move(s.oldPartial), std::move(s.newPartial)});
        s.oldPartial.clear();
        s.newPartial.clear();
    }
    if (!s.hunk.empty()) s.close_hunk();
    return s.any;
}

std::string unified_diff(std::string_view label, std::string_view oldText, std::string_view newText,
                         bool colour) {
    std::string diff;
    UnifiedDiffStream stream(label, colour, [&](std::string_view text) { diff.append(text); });
    stream.add(oldText, newText);
    stream.finish();
    return diff;
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
