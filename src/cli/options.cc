#include "cli/options.h"

#include <limits>

#include "cli/settings.h"

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
    "Usage: mapclean [options] [target]\n"
    "\n"
    "Cleans floating-point noise from the numbers in .map files and writes the\n"
    "files back in place, after asking. The target is a file, a directory whose\n"
    ".map files are cleaned in turn (default: the current directory), or \"-\" to\n"
    "clean standard input to standard output.\n"
    "\n"
    "Options (letter case does not matter):\n"
    "  -verbose            print a 'Changed' line for every rewritten number\n"
    "  -silent, -s         ask nothing, never pause, commit every change\n"
    "  -precision N, -p N  round every number to N decimals (N < 0: automatic)\n"
    "  -check              report what would change; write and ask nothing\n"
    "  -r, -recursive      also clean the .map files of subdirectories\n"
    "  -help, -h, -?       print this text and exit\n"
    "  -version            print the version and exit\n"
    "\n"
    "Exit status: 0 after a run; 1 when -precision lacks its number or memory\n"
    "runs out. With -check: 0 when nothing would change, 1 when something would,\n"
    "2 when a file could not be read. With \"-\": 2 when input or output failed.\n";

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

CliRequest read_arguments(int argc, const char* const* argv) {
    CliRequest request;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (equals_ignoring_case(argument, "-verbose")) {
            g_verbose = 1;
        } else if (is_one_of(argument, {"-silent", "-s"})) {
            g_silent = 1;
        } else if (is_one_of(argument, {"-precision", "-p"})) {
            if (i + 1 >= argc) {
                request.action = CliAction::missing_precision;
                return request;
            }
            g_precision = parse_precision(argv[++i]);
        } else if (equals_ignoring_case(argument, "-check")) {
            g_check = 1;
        } else if (is_one_of(argument, {"-r", "-recursive"})) {
            g_recursive = 1;
        } else if (is_one_of(argument, {"-h", "-help", "--help", "-?"})) {
            request.action = CliAction::show_usage;
            return request;
        } else if (is_one_of(argument, {"-version", "--version"})) {
            request.action = CliAction::show_version;
            return request;
        } else {
            request.targetPath = std::string(argument);
            ++request.targetCount;
        }
    }
    return request;
}
