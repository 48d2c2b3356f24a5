// What a run of the file pass is asked to do, handed down as a value by the
// command line, and what the files of the run came to.
#pragma once

#include <cstdint>

#include "core/scan.h"

// What a run that writes nothing shows of each file. When several are asked
// for, the later in this order wins.
enum class Review {
    none,   // a run that writes (the designed run)
    check,  // report lines; the exit status says whether anything would change
    list,   // the path of each file that would change
    diff,   // a unified diff of each file that would change
};

struct RunSettings {
    CleanRules rules;              // how numbers are rewritten
    Review review = Review::none;  // none, or what a run that writes nothing shows
    bool verbose = false;          // a "Changed" line for every edit
    bool silent = false;           // no questions, no pauses; commit every change
    bool quiet = false;            // no report or "Changes saved" lines
    bool brief = false;            // one line per file that changes: its save, or its report line
    bool github = false;           // with check: a GitHub Actions annotation per changed file
    bool colour = false;           // diffs in colour
    bool null = false;             // list: end each path with a NUL instead of a newline
};

// What the files of a run came to, for its exit status.
struct RunTally {
    int64_t judged = 0;        // in a run that writes nothing: the files judged
    int64_t changed = 0;       // of them, those that would change, by their bytes
    bool anyFailed = false;    // a file or directory could not be read, or (written) not written
    bool outOfMemory = false;  // memory ran out: a file was left as it was
    // The exit status: 1 when memory ran out, or (in a run that writes
    // nothing) a file would change; else 2 when anything failed; else 0.
    int status(bool review) const {
        if (outOfMemory || (review && changed > 0)) return 1;
        return anyFailed ? 2 : 0;
    }
};
