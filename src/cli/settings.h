// Process-wide settings of the command line: written only while the
// arguments are read, only read afterwards. The layers below get them as a
// value (run_settings()).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "filepass/run_settings.h"

extern int g_verbose;          // print a "Changed" line for every edit
extern int g_silent;           // no questions, no pauses; commit every change
extern int32_t g_precision;    // < 0: automatic mode; >= 0: decimals to round to
extern Review g_review;        // none, or what a run that writes nothing shows
extern int g_recursive;        // directory runs descend into subdirectories
extern int g_quiet;            // no report, "Changes saved", overall time or no-target lines
extern int g_brief;            // report lines of changed files only; no overall time or no-target lines
extern int g_stable;           // rewrite until nothing more would change
extern int g_github;           // with check: a GitHub Actions annotation per changed file
extern int g_plain;            // automatic mode writes exponent forms as plain decimals
extern unsigned g_only;        // MapField bits: only these fields' numbers change; 0: all
extern int g_colour;           // diffs in colour, as g_colourWhen and the terminal decide
extern int g_null;             // list: end each path with a NUL instead of a newline
extern std::vector<std::string> g_excludes;  // directory runs skip entries matching these globs

// The rule settings that options gave, which every settings file's keys
// yield to.
enum GivenRule : unsigned { given_precision = 1, given_plain = 2, given_only = 4, given_stable = 8 };
extern unsigned g_given;  // GivenRule bits

// Where a run's settings files come from.
enum class ConfigSource {
    nearest,  // each map's nearest .mapclean.toml
    named,    // one file (-config FILE) for every map
    none,     // no file (-no-config)
};
extern ConfigSource g_configSource;
extern std::string g_configFile;                   // with named: the file
extern std::optional<std::string> g_stdinName;     // -stdin-filename: the path the filter's text stands for
extern int g_gitFilter;         // -git-filter: serve git's long-running filter protocol
extern std::optional<std::string> g_showSettings;  // -show-settings: the path whose settings to print

// When diffs are coloured.
enum class ColourWhen {
    automatic,  // on a terminal, unless NO_COLOR is set
    always,
    never,
};
extern ColourWhen g_colourWhen;

// The settings as the file pass takes them.
RunSettings run_settings();
