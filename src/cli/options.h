// The argument walk: options into the settings, and the choice of target.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// ASCII comparison without regard to letter case, as options are compared.
bool equals_ignoring_case(std::string_view a, std::string_view b);

// Reads a "-precision" argument: an optional sign and decimal digits,
// nothing else; saturates at the limits of a signed 32-bit integer instead
// of overflowing. nullopt for any other text.
std::optional<int32_t> parse_precision(std::string_view text);

// `value` as a precision: saturated at the limits of a signed 32-bit
// integer, as "-precision" and a settings file's `precision` both take it.
int32_t saturated_precision(int64_t value);

// The words "-only" and a settings file's `only` take, as messages list them.
inline constexpr std::string_view kFieldWords =
    "planes, texture, offsets, rotation, scales, axes, matrix, flags, patches or keys";

// The set of fields a "-only" argument names: comma-separated words, each
// one of kFieldNames in any letter case. nullopt when any word (an empty one
// too) is none of them.
std::optional<unsigned> parse_fields(std::string_view text);

enum class CliAction {
    run,           // dispatch the targets
    show_usage,    // a help option was given
    show_version,  // a version option was given
    error,         // the arguments are wrong: print `message` on stderr, exit 1
};

struct CliRequest {
    CliAction action = CliAction::run;
    std::vector<std::string> targets;  // every argument that is no option, in order
    std::string message;               // with error: the line to print, without its newline
};

// Walks argv[1..argc-1], setting the process-wide settings (filepass/
// settings.h). Stops at the first help or version option, and at the first
// wrong argument: an option without its value or with a wrong one, or an
// argument that begins with '-' (but is not "-" itself), is no option and
// names nothing that exists (so that a typo cannot pass for a target). A
// file really named "-x.map" is a target; after "--" every argument is.
// Which targets a run processes is the caller's choice.
CliRequest read_arguments(int argc, const char* const* argv);

// The text printed for a help option.
extern const char kUsageText[];
