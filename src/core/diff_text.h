// What the runs that write nothing print of a file: a unified diff, and a
// GitHub Actions annotation. Pure: text in, text out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// The unified diff of `oldText` against `newText`, as `diff -u` writes it
// with both labels `label` (a name as diff_label writes it) and no
// timestamps: "--- LABEL", "+++ LABEL", then hunks with three lines of
// context under "@@ -l,n +l,n @@" headers (",1" left out), each run of
// changed lines as its old lines then its new ones, and "\ No newline at end
// of file" after a last line without one. Lines keep their own ends (CRLF
// too). With `colour`, removed lines are red, added green and hunk headers
// cyan (ANSI escapes), and within a changed line the numbers that changed
// are in reverse video. Empty when the texts are equal. Both texts must have
// the same number of lines, as a cleaned text has: a rewrite never adds or
// removes a line end.
std::string unified_diff(std::string_view label, std::string_view oldText, std::string_view newText,
                         bool colour);

// Where a diff keeps text that it cannot hand on yet: the hunk being made,
// the lines that may become its context, a line begun in one stretch and
// ended in another. The diff's memory is what its stores hold, so a caller
// may give it stores that keep what is large elsewhere (a scratch file).
class TextStore {
public:
    virtual ~TextStore() = default;
    virtual void append(std::string_view text) = 0;
    // True, with all of it, when it is held in memory as one text (valid
    // until the next change).
    virtual bool view(std::string_view& text) const = 0;
    // Hands all of it to `out`, in order and in pieces, then empties it.
    virtual void drain(const std::function<void(std::string_view)>& out) = 0;
    virtual void clear() = 0;
    virtual bool empty() const = 0;
};
using TextStoreMaker = std::function<std::unique_ptr<TextStore>()>;

// A store in memory: a string.
class MemoryStore final : public TextStore {
public:
    void append(std::string_view text) override { text_.append(text); }
    bool view(std::string_view& text) const override {
        text = text_;
        return true;
    }
    void drain(const std::function<void(std::string_view)>& out) override {
        if (!text_.empty()) out(text_);
        text_.clear();
    }
    void clear() override { text_.clear(); }
    bool empty() const override { return text_.empty(); }

private:
    std::string text_;
};

// Where a SpillingStore keeps what goes beyond its memory: a file of the
// caller's (a scratch file, a host's). Its failures are thrown, and go
// through the store and the diff to the caller.
class SpillFile {
public:
    virtual ~SpillFile() = default;
    virtual void append(std::string_view data) = 0;
    // Reads up to `size` bytes from `offset` into `data`: how many, 0 past
    // the end.
    virtual size_t read_at(uint64_t offset, char* data, size_t size) = 0;
    virtual void clear() = 0;
};

// A store that holds up to `limit` bytes in memory, and all of it in its
// file beyond that; memory then buffers the file's writes and reads. Once
// sealed, what it holds can be read at any offset.
class SpillingStore final : public TextStore {
public:
    SpillingStore(std::unique_ptr<SpillFile> file, size_t limit) : file_(std::move(file)), limit_(limit) {}
    void append(std::string_view text) override;
    bool view(std::string_view& text) const override;
    void drain(const std::function<void(std::string_view)>& out) override;
    void clear() override;
    bool empty() const override { return memory_.empty() && spilled_ == 0; }
    // Ends the appending: read_at reads what it holds.
    void seal();
    size_t read_at(uint64_t offset, char* data, size_t size) const;
    uint64_t size() const { return spilled_ + memory_.size(); }

private:
    void write_memory();  // to the file, emptying memory

    std::unique_ptr<SpillFile> file_;
    const size_t limit_;
    std::string memory_;
    uint64_t spilled_ = 0;  // what the file holds, the first part
};

// The same diff made as the texts come, a stretch at a time, each hunk
// handed to `out` as soon as it is complete. Memory holds no more than the
// texts' stretches and what the stores made by `makeStore` (MemoryStore
// when none is given) keep of the hunk being made, the lines before it that
// may become its context and a line not yet ended. Stretches may end
// mid-line; each new stretch must hold exactly the line ends of its old one
// (a cleaned text's stretch does). The numbers of a changed line are marked
// (colour) where both its texts are held in memory as one. Whatever the
// stores or `out` throw goes through.
class UnifiedDiffStream {
public:
    using Output = std::function<void(std::string_view)>;
    UnifiedDiffStream(std::string_view label, bool colour, Output out, TextStoreMaker makeStore = {});
    ~UnifiedDiffStream();
    // The next stretch of the old text and the same stretch of the new.
    void add(std::string_view oldText, std::string_view newText);
    // Ends the texts: hands on the last hunk. True when they differed.
    bool finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// One GitHub Actions workflow command for a file that would change:
// "::warning file=PATH,line=L,title=mapclean::N numbers would be rewritten,
// first 'OLD' -> 'NEW'" (for one: "1 number would be rewritten: 'OLD' ->
// 'NEW'") and a newline, with the escapes GitHub
// requires (in the message % CR LF; in the properties also ':', ',' and
// every other control byte), so that it is always one line.
std::string github_annotation(std::string_view path, int64_t line, int64_t edits, std::string_view oldToken,
                              std::string_view newToken);
