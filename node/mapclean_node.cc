// The program's pure parts for the npm package's command (node/main.mjs):
// the option walk and usage text of the command line, the names, report
// texts and diffs of the file pass, and the core's cleaning, compiled to
// WebAssembly. The command does the files, streams and signals itself;
// whatever decides a byte of output or of a file comes from here, so that
// the package says and writes what the program does.
//
// One call at a time: the command writes a text (and a name) into the
// module's buffers, calls, and reads the results before the next call.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "cli/platform.h"
#include "cli/settings.h"
#include "core/diff_text.h"
#include "core/scan.h"
#include "filepass/names.h"

#define NODE_EXPORT(name) extern "C" __attribute__((export_name(#name)))

// Whether an entry of any kind is at the path (the command's lstat).
extern "C" __attribute__((import_module("mapclean"), import_name("path_exists"))) int
mapclean_host_path_exists(const char* path, uint32_t length);

bool path_exists(const std::string& path) {
    return mapclean_host_path_exists(path.data(), static_cast<uint32_t>(path.size())) != 0;
}

namespace {

enum Buffer { text, name, kBuffers };
// What the calls give back; each holds until the next call that makes it.
enum Result { cleaned, changed_lines, shown, arguments, excludes, kResults };

std::string g_buffers[kBuffers];
std::string g_results[kResults];
int64_t g_edits = 0;
bool g_changes = false;

// What a clean is asked to make besides the cleaned text.
enum CleanFlags : uint32_t {
    lines = 1,        // the "Changed" lines (verbose)
    annotation = 2,   // the GitHub annotation of a text that changes, named by the name buffer
    diff = 4,         // the unified diff of a text that changes, labelled by the name buffer
    colour = 8,       // the diff in colour
    backslash = 16,   // '\' separates paths (Windows): no name byte to quote
};

// The "Changed" lines as the file pass prints them, and the first edit.
class Witness final : public EditSink {
public:
    Witness(bool lines, bool wantsLines) : lines_(lines), wantsLines_(wantsLines) {}
    void on_edit(const Edit& edit) override {
        if (lines_) {
            g_results[changed_lines].append("Changed: '").append(edit.original).append("' -> '");
            g_results[changed_lines].append(edit.replacement).append("' (line ");
            g_results[changed_lines].append(std::to_string(edit.line)).append(")\n");
        }
        if (!heard) {
            heard = true;
            firstLine = edit.line;
            firstOriginal = edit.original;
            firstReplacement = edit.replacement;
        }
    }
    bool wants_lines() const override { return wantsLines_; }
    bool heard = false;
    int64_t firstLine = 0;
    std::string firstOriginal, firstReplacement;

private:
    const bool lines_, wantsLines_;
};

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) out.append(item).append(1, '\0');
    return out;
}

}  // namespace

// A buffer of `length` bytes (0: the text, 1: the name) for the caller to fill.
NODE_EXPORT(mapclean_node_buffer) char* mapclean_node_buffer(uint32_t which, uint32_t length) {
    g_buffers[which].resize(length);
    return g_buffers[which].data();
}

NODE_EXPORT(mapclean_node_result) const char* mapclean_node_result(uint32_t which) { return g_results[which].data(); }
NODE_EXPORT(mapclean_node_result_length) uint32_t mapclean_node_result_length(uint32_t which) {
    return static_cast<uint32_t>(g_results[which].size());
}

// Reads the arguments, NUL-ended in the text buffer, as the program reads
// its argv: the CliAction; the error's line in the "shown" result, the
// targets and the -exclude globs NUL-ended in theirs, the settings through
// mapclean_node_setting(). Once per process: the settings only accumulate.
NODE_EXPORT(mapclean_node_read_arguments) int mapclean_node_read_arguments() {
    std::vector<std::string> argv{"mapclean"};
    std::string_view rest = g_buffers[text];
    for (size_t end; (end = rest.find('\0')) != std::string_view::npos; rest.remove_prefix(end + 1)) {
        argv.emplace_back(rest.substr(0, end));
    }
    std::vector<const char*> pointers;
    for (const std::string& argument : argv) pointers.push_back(argument.c_str());
    const CliRequest request = read_arguments(static_cast<int>(pointers.size()), pointers.data());
    g_results[shown] = request.action == CliAction::error ? printable_name(request.message) : std::string();
    g_results[arguments] = joined(request.targets);
    g_results[excludes] = joined(g_excludes);
    return static_cast<int>(request.action);
}

// A setting as the arguments left it, by its place in this list.
NODE_EXPORT(mapclean_node_setting) int32_t mapclean_node_setting(uint32_t which) {
    const int32_t settings[] = {g_verbose, g_silent, g_precision, static_cast<int32_t>(g_review), g_recursive,
                                g_quiet,   g_stable, g_github,    g_plain, static_cast<int32_t>(g_only),
                                g_null,    static_cast<int32_t>(g_colourWhen)};
    return which < std::size(settings) ? settings[which] : 0;
}

NODE_EXPORT(mapclean_node_usage) const char* mapclean_node_usage() { return kUsageText; }
NODE_EXPORT(mapclean_node_version) const char* mapclean_node_version() { return MAPCLEAN_VERSION; }

// The name buffer as a line shows it: 0 printable_name, 1 quoted_name for
// a list (2: where '\' separates paths); in the "shown" result.
NODE_EXPORT(mapclean_node_name) void mapclean_node_name(uint32_t how) {
    const std::string_view name = g_buffers[Buffer::name];
    g_results[shown] = how == 0 ? printable_name(name) : quoted_name(name, how == 1);
}

// Cleans the text buffer with the settings' rules: the cleaned text, and
// what `flags` asks for (CleanFlags). Always 0: memory running out traps.
NODE_EXPORT(mapclean_node_clean) int mapclean_node_clean(uint32_t flags) {
    for (const Result result : {cleaned, changed_lines, shown}) std::string().swap(g_results[result]);
    const std::string_view input = g_buffers[text];
    const RunSettings settings = run_settings();
    Witness witness((flags & lines) != 0, (flags & (lines | annotation)) != 0);
    g_results[cleaned] = clean_text(input, settings.rules, &witness, g_edits);
    g_changes = g_results[cleaned] != input;
    const std::string_view name = g_buffers[Buffer::name];
    if ((flags & annotation) && g_changes) {
        g_results[shown] = github_annotation(name, witness.firstLine, g_edits, witness.firstOriginal,
                                             witness.firstReplacement);
    } else if ((flags & diff) && g_changes) {
        g_results[shown] = unified_diff(diff_label(name, (flags & backslash) == 0), input, g_results[cleaned],
                                        (flags & colour) != 0);
    }
    return 0;
}

// The last clean's edit count (a double holds every count exactly), and
// whether its bytes differ from the text.
NODE_EXPORT(mapclean_node_edits) double mapclean_node_edits() { return static_cast<double>(g_edits); }
NODE_EXPORT(mapclean_node_changes) int mapclean_node_changes() { return g_changes ? 1 : 0; }
