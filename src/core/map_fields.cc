#include "core/map_fields.h"

#include <initializer_list>
#include <utility>

#include "core/token_scan.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool is_bracket(char c) { return c == '(' || c == ')' || c == '[' || c == ']'; }

struct Word {
    size_t begin;
    size_t end;
};

// The words of a line: brackets and parentheses alone, quoted strings whole
// (quotes included), anything else up to a blank or a bracket; up to a "//"
// comment.
std::vector<Word> words_of(std::string_view line) {
    std::vector<Word> words;
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (is_blank(c)) {
            ++i;
        } else if (c == '/' && i + 1 < line.size() && line[i + 1] == '/') {
            break;
        } else if (is_bracket(c)) {
            words.push_back({i, i + 1});
            ++i;
        } else if (c == '"') {
            const size_t close = line.find('"', i + 1);
            const size_t end = close == std::string_view::npos ? line.size() : close + 1;
            words.push_back({i, end});
            i = end;
        } else {
            size_t end = i;
            while (end < line.size() && !is_blank(line[end]) && !is_bracket(line[end])) ++end;
            words.push_back({i, end});
            i = end;
        }
    }
    return words;
}

// Reads the words of one line against the shapes of map text.
class LineReader {
public:
    LineReader(std::string_view line, std::vector<Word> words) : line_(line), words_(std::move(words)) {}

    bool at_end() const { return at_ == words_.size(); }
    std::string_view text(size_t k) const {
        return k < words_.size() ? line_.substr(words_[k].begin, words_[k].end - words_[k].begin) : std::string_view();
    }
    bool is(std::string_view word, size_t ahead = 0) const { return text(at_ + ahead) == word; }
    bool is_number(size_t k) const {
        const std::string_view word = text(k);
        return !word.empty() && is_number_start(word, 0) && scan_number_token(word, 0).length == word.size();
    }

    // "( n ... n )" with `count` numbers; on success the numbers go to `out`
    // as `field` and the reader moves past the group.
    bool group(size_t count, MapField field, std::vector<FieldNumber>& out) {
        if (!is("(") || !is(")", count + 1)) return false;
        for (size_t k = 1; k <= count; ++k) {
            if (!is_number(at_ + k)) return false;
        }
        for (size_t k = 1; k <= count; ++k) out.push_back({words_[at_ + k].begin, words_[at_ + k].end, field});
        at_ += count + 2;
        return true;
    }

    // A brush-primitive texture matrix, "( ( a b c ) ( d e f ) )".
    bool matrix(std::vector<FieldNumber>& out) {
        const size_t start = at_;
        const size_t kept = out.size();
        if (is("(") && is("(", 1)) {
            ++at_;
            if (group(3, kMatrix, out) && group(3, kMatrix, out) && is(")")) {
                ++at_;
                return true;
            }
        }
        at_ = start;
        out.resize(kept);
        return false;
    }

    // A texture name; false when there is none.
    bool name() {
        if (at_end() || is_bracket(text(at_)[0])) return false;
        ++at_;
        return true;
    }

    // Numbers from here, one for each field of `fields` in turn, then every
    // further number as `rest`; stops at the first word that is no number.
    void values(std::initializer_list<MapField> fields, MapField rest, std::vector<FieldNumber>& out) {
        auto field = fields.begin();
        for (; !at_end() && is_number(at_); ++at_) {
            out.push_back({words_[at_].begin, words_[at_].end, field == fields.end() ? rest : *field});
            if (field != fields.end()) ++field;
        }
    }

    // A Valve 220 texture axis "[ x y z offset ]".
    bool axis(std::vector<FieldNumber>& out) {
        if (!is("[") || !is("]", 5)) return false;
        for (size_t k = 1; k <= 4; ++k) {
            if (!is_number(at_ + k)) return false;
        }
        for (size_t k = 1; k <= 4; ++k) {
            out.push_back({words_[at_ + k].begin, words_[at_ + k].end, k == 4 ? kOffsets : kAxes});
        }
        at_ += 6;
        return true;
    }

    size_t at_ = 0;

private:
    std::string_view line_;
    std::vector<Word> words_;
};

// "( x y z ) ( x y z ) ( x y z ) NAME values..." (Standard, Quake 2 and 3:
// offsets, rotation, scales, then flags), with "[ axis ] [ axis ]" after the
// name (Valve 220: rotation, scales, flags), or "( x y z ) ( x y z ) ( x y z )
// matrix NAME flags" (brushDef), or "( a b c d ) matrix NAME flags"
// (brushDef3). Texture values in no such place belong to no field.
bool read_face(LineReader reader, std::vector<FieldNumber>& out) {
    if (reader.group(4, kPlanes, out)) {
        if (!reader.matrix(out) || !reader.name()) return false;
        reader.values({}, kFlags, out);
        return true;
    }
    if (!(reader.group(3, kPlanes, out) && reader.group(3, kPlanes, out) && reader.group(3, kPlanes, out))) {
        return false;
    }
    if (reader.matrix(out)) {
        if (!reader.name()) return false;
        reader.values({}, kFlags, out);
        return true;
    }
    if (!reader.name()) return false;
    if (reader.is("[")) {
        const size_t kept = out.size();
        if (!reader.axis(out) || !reader.axis(out)) {
            out.resize(kept);  // a damaged axis: its numbers are in no field
            return true;
        }
        reader.values({kRotation, kScales, kScales}, kFlags, out);
        return true;
    }
    reader.values({kOffsets, kOffsets, kRotation, kScales, kScales}, kFlags, out);
    return true;
}

// A patch's size line "( w h 0 0 0 )" (patchDef3: seven numbers), or a row
// of control points "( ( x y z u v ) ( x y z u v ) ... )".
bool read_patch(LineReader reader, std::vector<FieldNumber>& out) {
    if (reader.group(5, kPatches, out) || reader.group(7, kPatches, out)) return reader.at_end();
    if (!reader.is("(")) return false;
    ++reader.at_;
    bool any = false;
    while (reader.group(5, kPatches, out)) any = true;
    if (!any || !reader.is(")")) return false;
    ++reader.at_;
    return reader.at_end();
}

// "KEY" "VALUE" where VALUE holds only numbers separated by blanks.
bool read_key(std::string_view line, const std::vector<Word>& words, std::vector<FieldNumber>& out) {
    if (words.size() != 2) return false;
    for (const Word& w : words) {
        if (w.end - w.begin < 2 || line[w.begin] != '"' || line[w.end - 1] != '"') return false;
    }
    const size_t from = words[1].begin + 1;
    const std::string_view value = line.substr(from, words[1].end - 1 - from);
    std::vector<FieldNumber> numbers;
    for (size_t i = 0; i < value.size();) {
        if (value[i] == ' ' || value[i] == '\t') {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < value.size() && value[end] != ' ' && value[end] != '\t') ++end;
        const std::string_view word = value.substr(i, end - i);
        if (!is_number_start(word, 0) || scan_number_token(word, 0).length != word.size()) return false;
        numbers.push_back({from + i, from + end, kKeys});
        i = end;
    }
    out.insert(out.end(), numbers.begin(), numbers.end());
    return !numbers.empty();
}

}  // namespace

std::vector<FieldNumber> field_numbers(std::string_view line) {
    std::vector<Word> words = words_of(line);
    std::vector<FieldNumber> numbers;
    if (words.empty() || read_key(line, words, numbers)) return numbers;
    const LineReader reader(line, std::move(words));
    if (read_face(reader, numbers)) return numbers;
    numbers.clear();
    if (read_patch(reader, numbers)) return numbers;
    numbers.clear();
    return numbers;
}

bool FieldFilter::allows(size_t offset, size_t length) {
    if (offset >= lineEnd_) {
        // The line holding the token: from the last '\n' before it.
        const size_t newline = text_.substr(0, offset).rfind('\n');
        lineStart_ = newline == std::string_view::npos ? 0 : newline + 1;
        const size_t end = text_.find('\n', offset);
        lineEnd_ = end == std::string_view::npos ? text_.size() : end + 1;
        numbers_ = field_numbers(text_.substr(lineStart_, lineEnd_ - lineStart_));
        next_ = 0;
    }
    const size_t begin = offset - lineStart_;
    while (next_ < numbers_.size() && numbers_[next_].begin < begin) ++next_;
    return next_ < numbers_.size() && numbers_[next_].begin == begin && numbers_[next_].end == begin + length &&
           (numbers_[next_].field & fields_) != 0;
}
