// What the runs that write nothing print of a file: a unified diff, and a
// GitHub Actions annotation. Pure: text in, text out.
#pragma once

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

// The same diff made as the texts come, a stretch at a time, each hunk
// handed to `out` as soon as it is complete: memory holds the hunk being
// made and the lines before it that may become its context, never the
// texts. Stretches may end mid-line; each new stretch must hold exactly the
// line ends of its old one (a cleaned text's stretch does).
class UnifiedDiffStream {
public:
    using Output = std::function<void(std::string_view)>;
    UnifiedDiffStream(std::string_view label, bool colour, Output out);
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
