#include "cli/options.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include "cli/platform.h"
#include "core/map_fields.h"
#include "cli/settings.h"

namespace {

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_one_of(std::string_view argument, std::initializer_list<std::string_view> names) {
    for (std::string_view name : names) {
        if (equals_ignoring_case(argument, name)) return true;
    }
    return false;
}

}  // namespace

const char kUsageText[] =
    "Usage: mapclean [options] [target ...]\n"
    "\n"
    "Cleans floating-point noise from the numbers in .map files and writes the\n"
    "files back in place, after asking. A target is a file, a directory whose\n"
    ".map files are cleaned in turn (default: the current directory), or \"-\" to\n"
    "clean standard input to standard output. Every target is processed, in\n"
    "order. After \"--\" every argument is a target.\n"
    "Settings come from the nearest .mapclean.toml in each map's folder or above\n"
    "it; an option given replaces that setting for every map.\n"
    "\n"
    "Options (letter case does not matter):\n"
    "  -verbose, --verbose          print a 'Changed' line for every rewritten number\n"
    "  -silent, -s, --silent        ask nothing, never pause, commit every change\n"
    "  -precision N, -p N, --precision N\n"
    "                               round every number to N decimals (N < 0: automatic)\n"
    "  -check, --check              report what would change; write and ask nothing\n"
    "  -diff, --diff                print a unified diff of what would change; write nothing\n"
    "  -list, -l, --list            print the path of each file that would change\n"
    "  -z, --null                   with -list: end each path with a NUL, not a newline\n"
    "  -github, --github            with -check: a GitHub Actions warning per changed file\n"
    "  -all, --all                  kept for scripts; every target is processed\n"
    "  -stable, --stable            rewrite until a second run would change nothing\n"
    "  -plain, --plain              automatic mode: write exponent forms as plain decimals\n"
    "  -only FIELDS, --only FIELDS  rewrite only these fields of Quake-family maps, a\n"
    "                               comma-separated list of planes, texture (offsets,\n"
    "                               rotation, scales, axes, matrix, flags), patches, keys\n"
    "  -exclude GLOB, --exclude GLOB\n"
    "                               directory runs skip entries whose name or path below\n"
    "                               the directory matches GLOB (* and ? stop at /)\n"
    "  --color=WHEN                 colour diffs: auto (on a terminal), always or never\n"
    "  -config FILE, --config FILE  use FILE's settings for every map, not each map's\n"
    "                               nearest .mapclean.toml\n"
    "  -no-config, --no-config      use no .mapclean.toml\n"
    "  -stdin-filename PATH, --stdin-filename PATH\n"
    "                               give the filter the settings of the map at PATH\n"
    "  -git-filter, --git-filter    serve git's long-running filter protocol (version 2):\n"
    "                               clean each map git adds, with its path's settings\n"
    "  -show-settings PATH, --show-settings PATH\n"
    "                               print the settings for PATH and where each comes from\n"
    "  -quiet, -q, --quiet          no report, 'Changes saved' or overall time lines\n"
    "  -brief, --brief              one line per file that changes: 'Changes saved', or\n"
    "                               with -check its report line; no overall time line\n"
    "  -r, -recursive, --recursive  also clean the .map files of subdirectories\n"
    "  -help, -h, --help, -?        print this text and exit\n"
    "  -version, --version          print the version and exit\n"
    "\n"
    "Exit status: 0 when all went well (with -check, -diff or -list: and nothing\n"
    "would change); 1 when the arguments are wrong or memory runs out, and with\n"
    "-check, -diff or -list when something would change; 2 when a file or\n"
    "directory could not be read or written, or standard output not written.\n";

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    }
    return true;
}

std::optional<int32_t> parse_precision(std::string_view text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;

    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > kMax + 1) value = kMax + 1;  // saturate; digits may go on
    }
    return saturated_precision(negative ? -value : value);
}

int32_t saturated_precision(int64_t value) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value > kMax ? kMax : (value < kMin ? kMin : value));
}

std::optional<unsigned> parse_fields(std::string_view text) {
    unsigned fields = 0;
    for (;;) {
        const size_t comma = text.find(',');
        const std::string_view word = text.substr(0, comma);
        const auto match = std::find_if(std::begin(kFieldNames), std::end(kFieldNames),
                                        [&](const FieldName& name) { return equals_ignoring_case(word, name.name); });
        if (match == std::end(kFieldNames)) return std::nullopt;
        fields |= match->fields;
        if (comma == std::string_view::npos) return fields;
        text.remove_prefix(comma + 1);
    }
}

namespace {

// Asks for `review`; of several, the one that shows most wins.
void ask_for(Review review) {
    if (review > g_review) g_review = review;
}

// The error that ends the argument walk.
CliRequest wrong(std::string message) {
    CliRequest request;
    request.action = CliAction::error;
    request.message = std::move(message);
    return request;
}

// The value of "--color=WHEN" (or "-color=WHEN"; "--color" alone is
// "always"), or nullopt when `argument` is no such option at all.
std::optional<std::string_view> colour_option(std::string_view argument) {
    for (std::string_view name : {"--color", "-color", "--colour", "-colour"}) {
        if (argument.size() < name.size() || !equals_ignoring_case(argument.substr(0, name.size()), name)) continue;
        const std::string_view rest = argument.substr(name.size());
        if (rest.empty()) return std::string_view("always");
        if (rest[0] == '=') return rest.substr(1);
    }
    return std::nullopt;
}

}  // namespace

CliRequest read_arguments(int argc, const char* const* argv) {
    CliRequest request;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool hasNext = i + 1 < argc;
        if (optionsEnded || argument == "-" || !argument.starts_with('-')) {
            request.targets.emplace_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (is_one_of(argument, {"-verbose", "--verbose"})) {
            g_verbose = 1;
        } else if (is_one_of(argument, {"-silent", "-s", "--silent"})) {
            g_silent = 1;
        } else if (is_one_of(argument, {"-precision", "-p", "--precision"})) {
            if (!hasNext) return wrong("Error: -precision flag requires a numeric argument.");
            const std::optional<int32_t> precision = parse_precision(argv[++i]);
            if (!precision) return wrong("Error: -precision needs a whole number: " + std::string(argv[i]));
            g_precision = *precision;
            g_given |= given_precision;
        } else if (is_one_of(argument, {"-check", "--check"})) {
            ask_for(Review::check);
        } else if (is_one_of(argument, {"-list", "-l", "--list"})) {
            ask_for(Review::list);
        } else if (is_one_of(argument, {"-diff", "--diff"})) {
            ask_for(Review::diff);
        } else if (is_one_of(argument, {"-z", "-null", "--null"})) {
            g_null = 1;
        } else if (is_one_of(argument, {"-github", "--github"})) {
            g_github = 1;
            ask_for(Review::check);  // annotations come from a check
        } else if (is_one_of(argument, {"-all", "--all"})) {
            // Every target is processed anyway; kept for the scripts that say so.
        } else if (is_one_of(argument, {"-quiet", "-q", "--quiet"})) {
            g_quiet = 1;
        } else if (is_one_of(argument, {"-brief", "--brief"})) {
            g_brief = 1;
        } else if (is_one_of(argument, {"-stable", "--stable"})) {
            g_stable = 1;
            g_given |= given_stable;
        } else if (is_one_of(argument, {"-plain", "--plain"})) {
            g_plain = 1;
            g_given |= given_plain;
        } else if (is_one_of(argument, {"-only", "--only"})) {
            const auto fields = hasNext ? parse_fields(argv[i + 1]) : std::nullopt;
            if (!fields) {
                return wrong("Error: -only takes " + std::string(kFieldWords) + ": " + (hasNext ? argv[i + 1] : ""));
            }
            g_only = *fields;
            g_given |= given_only;
            ++i;
        } else if (is_one_of(argument, {"-exclude", "--exclude"})) {
            if (!hasNext) return wrong("Error: -exclude needs a pattern");
            // Paths below the directory have no "./"; "./linker" means "linker".
            std::string_view glob = argv[++i];
            while (glob.starts_with("./")) glob.remove_prefix(2);
            g_excludes.emplace_back(glob);
        } else if (is_one_of(argument, {"-config", "--config"})) {
            if (!hasNext) return wrong("Error: -config needs a settings file");
            g_configSource = ConfigSource::named;
            g_configFile = argv[++i];
        } else if (is_one_of(argument, {"-no-config", "--no-config"})) {
            g_configSource = ConfigSource::none;
        } else if (is_one_of(argument, {"-stdin-filename", "--stdin-filename"})) {
            if (!hasNext) return wrong("Error: -stdin-filename needs the path the filter's text stands for");
            g_stdinName = argv[++i];
        } else if (is_one_of(argument, {"-git-filter", "--git-filter"})) {
            g_gitFilter = 1;
        } else if (is_one_of(argument, {"-show-settings", "--show-settings"})) {
            if (!hasNext) return wrong("Error: -show-settings needs a path");
            g_showSettings = argv[++i];
        } else if (const auto when = colour_option(argument)) {
            if (equals_ignoring_case(*when, "auto")) {
                g_colourWhen = ColourWhen::automatic;
            } else if (equals_ignoring_case(*when, "always")) {
                g_colourWhen = ColourWhen::always;
            } else if (equals_ignoring_case(*when, "never")) {
                g_colourWhen = ColourWhen::never;
            } else {
                return wrong("Error: --color takes auto, always or never: " + std::string(*when));
            }
        } else if (is_one_of(argument, {"-r", "-recursive", "--recursive"})) {
            g_recursive = 1;
        } else if (is_one_of(argument, {"-h", "-help", "--help", "-?"})) {
            request.action = CliAction::show_usage;
            return request;
        } else if (is_one_of(argument, {"-version", "--version"})) {
            request.action = CliAction::show_version;
            return request;
        } else if (path_exists(std::string(argument))) {
            request.targets.emplace_back(argument);  // a file really named so
        } else {
            return wrong("Error: unknown option: " + std::string(argument));
        }
    }
    // An option that would do nothing is a mistake the run should not hide.
    if (g_null && g_review != Review::list) return wrong("Error: -z works only with -list");
    if (g_gitFilter && (!request.targets.empty() || g_review != Review::none)) {
        return wrong("Error: -git-filter cleans what git hands over: it takes no targets, -check, -diff or -list");
    }
    return request;
}
