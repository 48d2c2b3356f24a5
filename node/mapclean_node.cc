// The program's pure parts for the npm package's command (node/main.cjs):
// the option walk and usage text of the command line, the names, report
// texts and diffs of the file pass, and the core's cleaning, compiled to
// WebAssembly. The command does the files, streams and signals itself;
// whatever decides a byte of output or of a file comes from here, so that
// the package says and writes what the program does.
//
// One call at a time: the command writes a text (and a name) into the
// module's buffers, calls, and reads the results before the next call.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/config_lookup.h"
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

// The command's scratch files, numbered by the module: where a diff keeps
// what goes beyond a MiB of a store. A failure throws in the command, which
// then makes the module afresh.
#define HOST_IMPORT(name) extern "C" __attribute__((import_module("mapclean"), import_name(#name)))
HOST_IMPORT(spill_append) void mapclean_host_spill_append(uint32_t file, const char* data, uint32_t length);
HOST_IMPORT(spill_read) uint32_t mapclean_host_spill_read(uint32_t file, char* data, uint32_t length, double offset);
HOST_IMPORT(spill_clear) void mapclean_host_spill_clear(uint32_t file);
HOST_IMPORT(spill_close) void mapclean_host_spill_close(uint32_t file);
// Hands the command a diff's text to print, as it is made.
HOST_IMPORT(print) void mapclean_host_print(const char* data, uint32_t length);
// Reads the settings file at the path into the config buffer (through
// mapclean_node_buffer): 0, or -1 with the reason there instead.
HOST_IMPORT(config_read) int32_t mapclean_host_config_read(const char* path, uint32_t length);

namespace {

enum Buffer { text, name, config, kBuffers };
// What the calls give back; each holds until the next call that makes it.
enum Result { cleaned, changed_lines, shown, arguments, excludes, stdin_name, show_settings, kResults };

std::string g_buffers[kBuffers];
std::string g_results[kResults];
int64_t g_edits = 0;
bool g_changes = false;
// The rules of the next texts: the run's, or the latest plan's.
CleanRules g_planned;

// What a clean is asked to make besides the cleaned text.
enum CleanFlags : uint32_t {
    lines = 1,        // the "Changed" lines (verbose)
    annotation = 2,   // the GitHub annotation of a text that changes, named by the name buffer
    diff = 4,         // the unified diff of a text that changes, labelled by the name buffer
    colour = 8,       // the diff in colour
    backslash = 16,   // '\' separates paths (Windows): no name byte to quote
    judge = 32,       // only whether the bytes change: no cleaned text made
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
// targets and the -exclude globs NUL-ended in theirs, the -stdin-filename
// and -show-settings paths in theirs, the settings through
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
    g_results[stdin_name] = g_stdinName.value_or("");
    g_results[show_settings] = g_showSettings.value_or("");
    g_planned = run_settings().rules;
    return static_cast<int>(request.action);
}

// A setting as the arguments left it, by its place in this list.
NODE_EXPORT(mapclean_node_setting) int32_t mapclean_node_setting(uint32_t which) {
    const int32_t settings[] = {g_verbose, g_silent, g_precision, static_cast<int32_t>(g_review), g_recursive,
                                g_quiet,   g_stable, g_github,    g_plain, static_cast<int32_t>(g_only),
                                g_null,    static_cast<int32_t>(g_colourWhen),
                                g_stdinName.has_value(), g_showSettings.has_value(), g_brief, g_gitFilter};
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

namespace {

uint32_t g_lastSpill = 0;

// One of the command's scratch files.
class HostSpill final : public SpillFile {
public:
    HostSpill() : file_(++g_lastSpill) {}
    ~HostSpill() override { mapclean_host_spill_close(file_); }
    void append(std::string_view data) override {
        mapclean_host_spill_append(file_, data.data(), static_cast<uint32_t>(data.size()));
    }
    size_t read_at(uint64_t offset, char* data, size_t size) override {
        return mapclean_host_spill_read(file_, data, static_cast<uint32_t>(size), static_cast<double>(offset));
    }
    void clear() override { mapclean_host_spill_clear(file_); }

private:
    const uint32_t file_;
};

// A text read a piece at a time: what its pieces so far came to.
struct PieceRun {
    uint32_t flags = 0;
    int64_t linesBefore = 0;  // line ends before the next piece
    bool wordBefore = false;  // a run of word bytes goes on into the next piece
    bool pastNul = false;     // a piece held a NUL: nothing more is scanned
    std::unique_ptr<Witness> witness = std::make_unique<Witness>(false, false);
    std::unique_ptr<UnifiedDiffStream> diff;
    CleanRules rules;  // the text's own, as its plan gave them
};
PieceRun g_run;

// A piece's new text into the "cleaned" result, or (judging) compared with
// the piece where it would stand; its edits to the run's witness with their
// lines counted from the text's start.
class PieceCleaner final : public TextRebuilder {
public:
    PieceCleaner(std::string_view piece, bool judging) : TextRebuilder(piece), piece_(piece), judging_(judging) {}
    // After finish(): whether the new text's bytes differ from the piece's.
    bool changes() const { return differs_ || written_ != piece_.size(); }

private:
    bool wants_lines() const override { return g_run.witness->wants_lines(); }
    void on_change(const Edit& edit) override {
        Edit shifted = edit;
        if (shifted.line > 0) shifted.line += g_run.linesBefore;
        g_run.witness->on_edit(shifted);
    }
    void put(std::string_view data) override {
        if (!judging_) g_results[cleaned].append(data);
        if (!differs_ && data.data() != piece_.data() + written_) {
            differs_ = piece_.substr(std::min(written_, piece_.size()), data.size()) != data;
        }
        written_ += data.size();
    }
    const std::string_view piece_;
    const bool judging_;
    size_t written_ = 0;
    bool differs_ = false;
};

}  // namespace

// Begins a text read a piece at a time, as the program's file pass reads
// one: `flags` (CleanFlags) say what to make besides the cleaned text (with
// diff, a diff made as the pieces come, labelled by the name buffer).
NODE_EXPORT(mapclean_node_begin) void mapclean_node_begin(uint32_t flags) {
    g_run = PieceRun();
    g_run.rules = g_planned;
    g_run.flags = flags;
    g_run.witness = std::make_unique<Witness>((flags & lines) != 0, (flags & (lines | annotation)) != 0);
    g_edits = 0;
    g_changes = false;
    if (flags & diff) {
        g_run.diff = std::make_unique<UnifiedDiffStream>(
            diff_label(g_buffers[Buffer::name], (flags & backslash) == 0), (flags & colour) != 0,
            [](std::string_view text) { mapclean_host_print(text.data(), static_cast<uint32_t>(text.size())); },
            [] { return std::make_unique<SpillingStore>(std::make_unique<HostSpill>(), 1 << 20); });
    }
}

// Takes the piece the text buffer begins with (all of it when `atEnd`),
// where cut_piece cuts it, and cleans it: the cleaned piece in "cleaned",
// its "Changed" lines in "changed_lines"; the hunks it completed go to the
// command's print. Returns the piece's length; 0 when the buffer holds no
// cut yet (more of the text is needed).
NODE_EXPORT(mapclean_node_piece) uint32_t mapclean_node_piece(int atEnd) {
    for (const Result result : {cleaned, changed_lines, shown}) g_results[result].clear();
    RunSettings settings = run_settings();
    settings.rules = g_run.rules;
    const PieceCut cut = cut_piece(g_buffers[text], settings.rules.only != 0, atEnd != 0);
    if (cut.length == 0) return 0;
    const std::string_view piece = std::string_view(g_buffers[text]).substr(0, cut.length);
    if (g_run.pastNul) {
        if (!(g_run.flags & judge)) g_results[cleaned].assign(piece);
    } else {
        PieceCleaner cleaner(piece, (g_run.flags & judge) != 0);
        g_edits += scan_text(piece, settings.rules, cleaner, WordEdges{g_run.wordBefore, cut.wordAfter});
        cleaner.finish();
        g_changes = g_changes || cleaner.changes();
        g_run.pastNul = piece.find('\0') != std::string_view::npos;
    }
    if (g_run.diff) g_run.diff->add(piece, g_results[cleaned]);
    if (g_run.witness->wants_lines()) g_run.linesBefore += std::count(piece.begin(), piece.end(), '\n');
    g_run.wordBefore = cut.wordAfter;
    return static_cast<uint32_t>(cut.length);
}

// Ends the text read in pieces: the rest of its diff to the command's
// print, or its annotation in "shown"; its edit count and whether it
// changes, as after a clean.
NODE_EXPORT(mapclean_node_end) void mapclean_node_end() {
    for (const Result result : {cleaned, changed_lines, shown}) g_results[result].clear();
    if (g_run.diff) {
        g_run.diff->finish();
        g_run.diff.reset();
    } else if ((g_run.flags & annotation) && g_changes) {
        const Witness& witness = *g_run.witness;
        g_results[shown] = github_annotation(g_buffers[Buffer::name], witness.firstLine, g_edits, witness.firstOriginal,
                                             witness.firstReplacement);
    }
}

// The edit count of the text read in pieces (a double holds every count
// exactly), and whether its bytes differ.
NODE_EXPORT(mapclean_node_edits) double mapclean_node_edits() { return static_cast<double>(g_edits); }
NODE_EXPORT(mapclean_node_changes) int mapclean_node_changes() { return g_changes ? 1 : 0; }

namespace {

// The command's settings files: read by its host, found as the program finds them.
class HostConfigFiles final : public ConfigFiles {
public:
    HostConfigFiles(std::string currentDir, char separator) : currentDir_(std::move(currentDir)), separator_(separator) {}
    char separator() const override { return separator_; }
    std::optional<std::string> current_directory() override {
        if (currentDir_.empty()) return std::nullopt;
        return currentDir_;
    }
    bool exists(const std::string& path) override { return path_exists(path); }
    std::optional<std::string> read(const std::string& path, std::string& why) override {
        if (mapclean_host_config_read(path.data(), static_cast<uint32_t>(path.size())) == 0) return g_buffers[config];
        why = g_buffers[config];
        return std::nullopt;
    }

private:
    std::string currentDir_;
    char separator_;
};

std::unique_ptr<HostConfigFiles> g_configFiles;
std::unique_ptr<ConfigLookup> g_configs;

// What mapclean_node_plan answers.
enum PlanAnswer : int32_t { planned = 0, excluded = 1, unusable = 2 };

}  // namespace

// Starts finding settings files, after the arguments are read: the current
// directory in the name buffer (empty: it cannot be read), `backslash`
// where '\' separates paths. The next texts are cleaned with the run's
// own rules until a plan says otherwise.
NODE_EXPORT(mapclean_node_config_start) void mapclean_node_config_start(int backslash) {
    g_configFiles = std::make_unique<HostConfigFiles>(g_buffers[Buffer::name], backslash ? '\\' : '/');
    g_configs = std::make_unique<ConfigLookup>(*g_configFiles, g_configSource, run_settings(), g_given, g_configFile);
    g_planned = run_settings().rules;
}

// The plan for the map named in the name buffer: its rules become those of
// the next texts. planned; excluded (the excluding file's name in
// "shown"); or unusable (the error line's text after "Error: " in "shown").
NODE_EXPORT(mapclean_node_plan) int32_t mapclean_node_plan() {
    const MapPlan plan = g_configs->plan(g_buffers[Buffer::name]);
    g_planned = plan.settings.rules;
    g_results[shown].clear();
    if (plan.error) {
        g_results[shown] = printable_name(*plan.error);
        return unusable;
    }
    if (plan.excludedBy) {
        g_results[shown] = printable_name(plan.excludedBy->source.file);
        return excluded;
    }
    return planned;
}

// The planned rules' -only fields (0: all): whether a line must be read whole.
NODE_EXPORT(mapclean_node_planned_only) uint32_t mapclean_node_planned_only() { return g_planned.only; }

// Reads the settings file that applies in the folder named in the name
// buffer; 1 when that folder is left out by it, else 0.
NODE_EXPORT(mapclean_node_config_folder) int32_t mapclean_node_config_folder() {
    return g_configs->excludes_folder(g_buffers[Buffer::name]) ? 1 : 0;
}

// The first settings file that could not be used: 1 with the error line's
// text after "Error: " in "shown", or 0.
NODE_EXPORT(mapclean_node_config_error) int32_t mapclean_node_config_error() {
    const auto& error = g_configs->error();
    g_results[shown] = error ? printable_name(*error) : std::string();
    return error ? 1 : 0;
}

// -show-settings for the path in the name buffer (`folder`: it is a
// folder): the lines in "shown"; 0, or 1 when a settings file cannot be
// used (mapclean_node_config_error says why).
NODE_EXPORT(mapclean_node_show_settings) int32_t mapclean_node_show_settings(int folder) {
    const std::string path = g_buffers[Buffer::name];
    const std::string subject = folder ? path + (g_configFiles->separator() == '/' ? "/-" : "\\-") : path;
    const MapPlan plan = g_configs->plan(subject);
    g_results[shown] = plan.error ? std::string() : describe_settings(path, plan, g_given);
    return plan.error ? 1 : 0;
}
