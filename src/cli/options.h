// The argument walk: options into the settings, and the choice of target.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// ASCII comparison without regard to letter case, as options are compared.
bool equals_ignoring_case(std::string_view a, std::string_view b);

// Reads a "-precision" argument as atoi does (leading blanks, an optional
// sign, decimal digits; no digits gives 0), but saturates at the limits of a
// signed 32-bit integer instead of overflowing.
int32_t parse_precision(std::string_view text);

// The set of fields a "-only" argument names: comma-separated words, each
// "planes", "texture", "patches" or "keys" in any letter case. nullopt when
// any word (an empty one too) is none of them.
std::optional<unsigned> parse_fields(std::string_view text);

enum class CliAction {
    run,                // dispatch the target
    show_usage,         // a help option was given
    show_version,       // a version option was given
    missing_precision,  // "-precision"/"-p" was the last argument
    bad_fields,         // "-only" without its argument, or with a word that names no field
};

struct CliRequest {
    CliAction action = CliAction::run;
    std::vector<std::string> targets;  // every argument that is no option, in order
    std::string badFields;             // with bad_fields: the argument as given (empty if none)
};

// Walks argv[1..argc-1], setting the process-wide settings (filepass/
// settings.h). Stops at the first help or version option, at a "-precision"
// without its number, or at an "-only" without valid fields, and says so in
// the action. Every argument
// that is no option is a target; which of them a run processes is the
// caller's choice.
CliRequest read_arguments(int argc, const char* const* argv);

// The text printed for a help option.
extern const char kUsageText[];
