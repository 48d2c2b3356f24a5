#include "core/diff_text.h"

#include <algorithm>
#include <deque>
#include <utility>
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

// A line of one text as the diff has it: without its line end, either held
// as one text or, when long, in a store.
struct LineText {
    std::string_view text;       // when `store` is null
    TextStore* store = nullptr;  // else all of it, to be drained
};

struct UnifiedDiffStream::State {
    State(std::string_view label, bool colour, Output out, TextStoreMaker makeStore)
        : label(label), colour(colour), out(std::move(out)), makeStore(std::move(makeStore)) {}

    // An unchanged line not written yet: before the next hunk, or past a
    // hunk's trailing context until the next change shows where it goes.
    struct Kept {
        std::string_view text;               // in the current stretch, or in `store`
        std::unique_ptr<TextStore> store;    // its copy once the stretch has gone
        bool inStore = false;                // the text is in `store`, not `text`
        bool ended = true;                   // a line end followed it
    };

    const std::string label;
    const bool colour;
    Output out;
    TextStoreMaker makeStore;
    std::vector<std::unique_ptr<TextStore>> spare;  // emptied stores, for reuse

    std::unique_ptr<TextStore> partialOld, partialNew;  // a line begun in an earlier stretch
    bool partial = false;
    bool partialChanged = false;
    bool endingPartial = false;  // the line being handled is that one

    std::deque<Kept> kept;
    std::unique_ptr<TextStore> body;       // the hunk's lines so far
    std::unique_ptr<TextStore> additions;  // the new lines of the change being made
    bool inHunk = false;
    size_t hunkFrom = 0, hunkLines = 0;
    size_t unchangedSince = 0;  // unchanged lines since the hunk's last change
    size_t lineNumber = 0;      // lines seen, from 0
    bool any = false;

    std::unique_ptr<TextStore> store() {
        if (spare.empty()) return makeStore ? makeStore() : std::make_unique<MemoryStore>();
        std::unique_ptr<TextStore> reused = std::move(spare.back());
        spare.pop_back();
        return reused;
    }
    void recycle(std::unique_ptr<TextStore> used) {
        used->clear();
        spare.push_back(std::move(used));
    }

    // A stored line as a LineText: held as one when the store can.
    static LineText line_of(TextStore& store) {
        LineText line{{}, &store};
        if (store.view(line.text)) line.store = nullptr;
        return line;
    }

    // Writes one line of a hunk to `to`: its mark, its text, its end, and
    // the note of a missing last line end. With colour, removed lines are
    // red and added ones green, and the runs that differ from `other` (its
    // counterpart) are in reverse video where both are held as one text
    // and their runs pair up.
    void put_line(TextStore& to, char mark, const LineText& line, const LineText& other, bool ended) {
        const char* paint = !colour ? nullptr : mark == '-' ? "\x1b[31m" : mark == '+' ? "\x1b[32m" : nullptr;
        if (paint) to.append(paint);
        to.append(std::string_view(&mark, 1));
        if (line.store) {
            line.store->drain([&](std::string_view piece) { to.append(piece); });
        } else if (paint && !other.store) {
            put_marked(to, line.text, other.text);
        } else {
            to.append(line.text);
        }
        if (paint) to.append("\x1b[m");
        to.append("\n");
        if (!ended) to.append("\\ No newline at end of file\n");
    }

    static void put_marked(TextStore& to, std::string_view text, std::string_view other) {
        const std::vector<std::string_view> mine = runs_of(text), theirs = runs_of(other);
        if (mine.size() != theirs.size()) {
            to.append(text);
            return;
        }
        for (size_t i = 0; i < mine.size(); ++i) {
            if (mine[i] == theirs[i]) {
                to.append(mine[i]);
            } else {
                to.append("\x1b[7m");
                to.append(mine[i]);
                to.append("\x1b[27m");
            }
        }
    }

    // One whole line of both texts, in order.
    void line(const LineText& oldLine, const LineText& newLine, bool changed, bool ended) {
        ++lineNumber;
        if (!inHunk) {
            if (!changed) {
                keep(oldLine, ended);
                if (kept.size() > kContext) drop_kept();
                return;
            }
            inHunk = true;
            hunkFrom = lineNumber - 1 - kept.size();
            hunkLines = 0;
            write_kept();
        } else if (changed) {
            write_kept();  // the unchanged lines between two changes
        }
        if (changed) {
            put_line(*body, '-', oldLine, newLine, ended);
            put_line(*additions, '+', newLine, oldLine, ended);
            ++hunkLines;
            unchangedSince = 0;
            return;
        }
        additions->drain([&](std::string_view piece) { body->append(piece); });
        if (++unchangedSince <= kContext) {
            put_line(*body, ' ', oldLine, {}, ended);
            ++hunkLines;
            return;
        }
        keep(oldLine, ended);
        // Changes more than two contexts apart go to separate hunks, as
        // diff -u makes them: this one ends after its trailing context, and
        // the last kContext lines kept may lead the next.
        if (unchangedSince > 2 * kContext) {
            close_hunk();
            drop_kept();
        }
    }

    // Keeps an unchanged line: its text where it stands in the stretch, or,
    // for the line ended from earlier stretches, the store that holds it
    // (taken over: another takes its place).
    void keep(const LineText& line, bool ended) {
        Kept entry;
        entry.ended = ended;
        if (endingPartial) {
            entry.store = std::exchange(partialOld, store());
            entry.inStore = true;
        } else {
            entry.text = line.text;
        }
        kept.push_back(std::move(entry));
    }

    void drop_kept() {
        if (kept.front().store) recycle(std::move(kept.front().store));
        kept.pop_front();
    }

    // Copies the kept lines that stand in the stretch about to go.
    void own_kept() {
        for (Kept& entry : kept) {
            if (entry.inStore) continue;
            entry.store = store();
            entry.store->append(entry.text);
            entry.inStore = true;
        }
    }

    void write_kept() {
        for (Kept& entry : kept) {
            const LineText text = entry.inStore ? line_of(*entry.store) : LineText{entry.text, nullptr};
            put_line(*body, ' ', text, {}, entry.ended);
            ++hunkLines;
            if (entry.store) recycle(std::move(entry.store));
        }
        kept.clear();
    }

    // Hands on the hunk (the file's header first, once).
    void close_hunk() {
        if (!any) {
            any = true;
            out("--- " + label + "\n+++ " + label + "\n");
        }
        std::string header = "@@ -" + range(hunkFrom, hunkLines) + " +" + range(hunkFrom, hunkLines) + " @@";
        out(colour ? "\x1b[36m" + header + "\x1b[m\n" : header + "\n");
        body->drain(out);
        additions->drain(out);
        inHunk = false;
    }

    // Ends the line begun in earlier stretches.
    void end_partial(bool ended) {
        const LineText oldLine = line_of(*partialOld), newLine = line_of(*partialNew);
        endingPartial = true;
        line(oldLine, newLine, partialChanged, ended);
        endingPartial = false;
        partialOld->clear();
        partialNew->clear();
        partial = partialChanged = false;
    }
};

UnifiedDiffStream::UnifiedDiffStream(std::string_view label, bool colour, Output out, TextStoreMaker makeStore)
    : state_(std::make_unique<State>(label, colour, std::move(out), std::move(makeStore))) {
    State& s = *state_;
    s.body = s.store();
    s.additions = s.store();
    s.partialOld = s.store();
    s.partialNew = s.store();
}

UnifiedDiffStream::~UnifiedDiffStream() = default;

void UnifiedDiffStream::add(std::string_view oldText, std::string_view newText) {
    State& s = *state_;
    for (;;) {
        const size_t oldEnd = oldText.find('\n');
        const size_t newEnd = newText.find('\n');
        if (oldEnd == std::string_view::npos || newEnd == std::string_view::npos) break;
        const std::string_view oldLine = oldText.substr(0, oldEnd), newLine = newText.substr(0, newEnd);
        if (s.partial) {
            s.partialOld->append(oldLine);
            s.partialNew->append(newLine);
            s.partialChanged = s.partialChanged || oldLine != newLine;
            s.end_partial(true);
        } else {
            s.line(LineText{oldLine}, LineText{newLine}, oldLine != newLine, true);
        }
        oldText.remove_prefix(oldEnd + 1);
        newText.remove_prefix(newEnd + 1);
    }
    if (!oldText.empty() || !newText.empty()) {
        // A rewrite changes a line where its stretches differ: the bytes
        // after a rewritten number never make up for it.
        s.partialOld->append(oldText);
        s.partialNew->append(newText);
        s.partialChanged = s.partialChanged || oldText != newText;
        s.partial = true;
    }
    s.own_kept();
}

bool UnifiedDiffStream::finish() {
    State& s = *state_;
    if (s.partial) s.end_partial(false);
    if (s.inHunk) s.close_hunk();
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

void SpillingStore::append(std::string_view text) {
    if (memory_.size() + text.size() <= limit_) {
        memory_.append(text);
        return;
    }
    write_memory();
    if (text.size() <= limit_) {
        memory_.append(text);
    } else {
        file_->append(text);
        spilled_ += text.size();
    }
}

bool SpillingStore::view(std::string_view& text) const {
    text = memory_;
    return spilled_ == 0;
}

void SpillingStore::drain(const std::function<void(std::string_view)>& out) {
    if (spilled_ == 0) {
        if (!memory_.empty()) out(memory_);
        memory_.clear();
        return;
    }
    write_memory();
    memory_.resize(limit_);
    for (uint64_t at = 0; at < spilled_;) {
        const size_t got = file_->read_at(at, memory_.data(), memory_.size());
        if (got == 0) break;  // cut short: the file lost its end
        out(std::string_view(memory_.data(), got));
        at += got;
    }
    clear();
}

void SpillingStore::clear() {
    memory_.clear();
    if (spilled_ == 0) return;
    spilled_ = 0;
    file_->clear();
}

void SpillingStore::seal() {
    if (spilled_ > 0) write_memory();
}

size_t SpillingStore::read_at(uint64_t offset, char* data, size_t size) const {
    if (spilled_ > 0) return file_->read_at(offset, data, size);
    if (offset >= memory_.size()) return 0;
    const size_t got = std::min(size, memory_.size() - static_cast<size_t>(offset));
    std::copy_n(memory_.data() + offset, got, data);
    return got;
}

void SpillingStore::write_memory() {
    if (memory_.empty()) return;
    file_->append(memory_);
    spilled_ += memory_.size();
    memory_.clear();
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
