// git's long-running filter process (gitattributes(5), "Long Running
// Filter Process"): one process cleans every map of a git command.
#pragma once

#include <functional>
#include <string>

#include "filepass/run_settings.h"

// What to do with one path git hands over.
struct GitFilterPlan {
    enum class Kind {
        clean,  // clean it with `settings`
        pass,   // its settings leave it out: hand the text back as it is
        fail,   // refuse it (`error` says why, after the path, on stderr)
    };
    Kind kind = Kind::clean;
    RunSettings settings;
    std::string error;
};

// Speaks protocol version 2 on stdin and stdout, offering the "clean"
// capability only (git then hands the text back unchanged on checkout).
// For each "command=clean" it reads the text whole (into memory up to
// 8 MiB, beyond that into a scratch file, so memory stays bounded), asks
// `planFor(pathname)`, and answers "status=success" and the cleaned text;
// or, for a path it refuses or a text it cannot clean (a read of the
// scratch failing, an -only line past 1 MiB, memory running out),
// "status=error", so that git reports that path and goes on. A report line
// per text on stderr, as its settings ask. Returns 0 when git closes the stream
// between requests, 2 (after an error line) when the stream breaks the
// protocol or ends within a request, or stdout cannot be written.
int serve_git_filter(const std::function<GitFilterPlan(const std::string& path)>& planFor);
