#include "cli/options.h"

#include <algorithm>
#include <iterator>
#include <limits>

#include "filepass/map_fields.h"
#include "filepass/settings.h"

namespace {

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

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
    "clean standard input to standard output. Of several targets only the last\n"
    "is processed, unless -all, -check, -diff or -list is given.\n"
    "\n"
    "Options (letter case does not matter):\n"
    "  -verbose, --verbose          print a 'Changed' line for every rewritten number\n"
    "  -silent, -s, --silent        ask nothing, never pause, commit every change\n"
    "  -precision N, -p N, --precision N\n"
    "                               round every number to N decimals (N < 0: automatic)\n"
    "  -check, --check              report what would change; write and ask nothing\n"
    "  -diff, --diff                print a unified diff of what would change; write nothing\n"
    "  -list, -l, --list            print the path of each file that would change\n"
    "  -github, --github            with -check: a GitHub Actions warning per changed file\n"
    "  -all, --all                  process every target given, in order\n"
    "  -stable, --stable            rewrite until a second run would change nothing\n"
    "  -plain, --plain              automatic mode: write exponent forms as plain decimals\n"
    "  -only FIELDS, --only FIELDS  rewrite only these fields of Quake-family maps, a\n"
    "                               comma-separated list of planes, texture, patches, keys\n"
    "  -quiet, -q, --quiet          no report, 'Changes saved' or overall time lines\n"
    "  -r, -recursive, --recursive  also clean the .map files of subdirectories\n"
    "  -help, -h, --help, -?        print this text and exit\n"
    "  -version, --version          print the version and exit\n"
    "\n"
    "Exit status: 0 after a run; 1 when -precision lacks its number, -only its\n"
    "fields, \"-\" is given twice, or memory runs out. With -all: 2 when a file\n"
    "could not be read or written. With -check, -diff or -list: 0 when nothing\n"
    "would change, 1 when something would, 2 when a file could not be read.\n"
    "With \"-\": 2 when input or output failed.\n";

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    }
    return true;
}

int32_t parse_precision(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && is_blank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kMax + 1) value = kMax + 1;  // saturate; digits may go on
    }
    value = negative ? -value : value;
    return static_cast<int32_t>(value > kMax ? kMax : (value < kMin ? kMin : value));
}

std::optional<unsigned> parse_fields(std::string_view text) {
    unsigned fields = 0;
    for (;;) {
        const size_t comma = text.find(',');
        const std::string_view word = text.substr(0, comma);
        const std::pair<std::string_view, MapField> names[] = {
            {"planes", kPlanes}, {"texture", kTexture}, {"patches", kPatches}, {"keys", kKeys}};
        const auto match = std::find_if(std::begin(names), std::end(names),
                                        [&](const auto& name) { return equals_ignoring_case(word, name.first); });
        if (match == std::end(names)) return std::nullopt;
        fields |= match->second;
        if (comma == std::string_view::npos) return fields;
        text.remove_prefix(comma + 1);
    }
}

namespace {

// Asks for `review`; of several, the one that shows most wins.
void ask_for(Review review) {
    if (review > g_review) g_review = review;
}

}  // namespace

CliRequest read_arguments(int argc, const char* const* argv) {
    CliRequest request;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (is_one_of(argument, {"-verbose", "--verbose"})) {
            g_verbose = 1;
        } else if (is_one_of(argument, {"-silent", "-s", "--silent"})) {
            g_silent = 1;
        } else if (is_one_of(argument, {"-precision", "-p", "--precision"})) {
            if (i + 1 >= argc) {
                request.action = CliAction::missing_precision;
                return request;
            }
            g_precision = parse_precision(argv[++i]);
        } else if (is_one_of(argument, {"-check", "--check"})) {
            ask_for(Review::check);
        } else if (is_one_of(argument, {"-list", "-l", "--list"})) {
            ask_for(Review::list);
        } else if (is_one_of(argument, {"-diff", "--diff"})) {
            ask_for(Review::diff);
        } else if (is_one_of(argument, {"-github", "--github"})) {
            g_github = 1;
            ask_for(Review::check);  // annotations come from a check
        } else if (is_one_of(argument, {"-all", "--all"})) {
            g_all = 1;
        } else if (is_one_of(argument, {"-quiet", "-q", "--quiet"})) {
            g_quiet = 1;
        } else if (is_one_of(argument, {"-stable", "--stable"})) {
            g_stable = 1;
        } else if (is_one_of(argument, {"-plain", "--plain"})) {
            g_plain = 1;
        } else if (is_one_of(argument, {"-only", "--only"})) {
            const auto fields = i + 1 < argc ? parse_fields(argv[i + 1]) : std::nullopt;
            if (!fields) {
                request.action = CliAction::bad_fields;
                if (i + 1 < argc) request.badFields = argv[i + 1];
                return request;
            }
            g_only = *fields;
            ++i;
        } else if (is_one_of(argument, {"-r", "-recursive", "--recursive"})) {
            g_recursive = 1;
        } else if (is_one_of(argument, {"-h", "-help", "--help", "-?"})) {
            request.action = CliAction::show_usage;
            return request;
        } else if (is_one_of(argument, {"-version", "--version"})) {
            request.action = CliAction::show_version;
            return request;
        } else {
            request.targets.emplace_back(argument);
        }
    }
    return request;
}
