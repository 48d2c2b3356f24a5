// The library's buffers for the page: the page writes a text into the
// module's memory, cleans it through mapclean_clean_text with the options
// of the C interface, and reads the cleaned bytes, the edit count and, for
// its diff view, where the edits stand; and the settings of each map from
// the .mapclean.toml files of a dropped folder. One text at a time; no file
// system and no WASI I/O.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/config_lookup.h"
#include "core/scan.h"
#include "mapclean/mapclean.h"

#define WASM_EXPORT(name) extern "C" __attribute__((export_name(#name)))

namespace {

std::string g_input;   // the text to clean, written by the page
std::string g_output;  // its cleaned bytes
int64_t g_edits = 0;
std::vector<uint32_t> g_editPlaces;  // 4 per edit: input offset and length, output offset and length

mapclean_options options_of(int precision, int stable, int plain, uint32_t only) {
    mapclean_options options = MAPCLEAN_OPTIONS_INIT;
    options.precision = precision;
    options.stable = stable;
    options.plain = plain;
    options.only = only;
    return options;
}

int append(void* user, const char* bytes, size_t length) {
    static_cast<std::string*>(user)->append(bytes, length);
    return 0;
}

}  // namespace

// A buffer of `length` bytes in the module's memory for the next text,
// which the page fills before cleaning it.
WASM_EXPORT(mapclean_wasm_input) char* mapclean_wasm_input(uint32_t length) {
    g_input.resize(length);
    return g_input.data();
}

// Cleans the text in the input buffer; a MAPCLEAN_* code. The cleaned bytes
// and the edit count stay until the next call.
WASM_EXPORT(mapclean_wasm_clean) int mapclean_wasm_clean(int precision, int stable, int plain, uint32_t only) {
    const mapclean_options options = options_of(precision, stable, plain, only);
    g_output.clear();
    g_edits = 0;
    return mapclean_clean_text(g_input.data(), g_input.size(), &options, append, &g_output, &g_edits);
}

WASM_EXPORT(mapclean_wasm_output) const char* mapclean_wasm_output() { return g_output.data(); }
WASM_EXPORT(mapclean_wasm_output_length) uint32_t mapclean_wasm_output_length() {
    return static_cast<uint32_t>(g_output.size());
}
// The edit count of the last clean (a double holds every count exactly).
WASM_EXPORT(mapclean_wasm_edit_count) double mapclean_wasm_edit_count() { return static_cast<double>(g_edits); }

// Finds where the first `limit` edits of the text in the input buffer stand,
// for a diff view: their number (at most `limit`), or a negative MAPCLEAN_*
// code for options the library refuses. mapclean_wasm_edit_places() then
// holds four numbers for each.
WASM_EXPORT(mapclean_wasm_find_edits)
int mapclean_wasm_find_edits(int precision, int stable, int plain, uint32_t only, uint32_t limit) {
    const mapclean_options options = options_of(precision, stable, plain, only);
    // The same check the C interface makes, so that both refuse alike.
    if (mapclean_clean_text(nullptr, 0, &options, nullptr, nullptr, nullptr) != MAPCLEAN_OK) return MAPCLEAN_EINVAL;
    class Places final : public EditSink {
    public:
        Places(std::vector<uint32_t>& places, uint32_t limit) : places_(places), limit_(limit) {}
        void on_edit(const Edit& edit) override {
            const int64_t outputAt = static_cast<int64_t>(edit.offset) + shift_;
            shift_ += static_cast<int64_t>(edit.replacement.size()) - static_cast<int64_t>(edit.original.size());
            if (places_.size() / 4 >= limit_) return;
            places_.insert(places_.end(), {static_cast<uint32_t>(edit.offset), static_cast<uint32_t>(edit.original.size()),
                                           static_cast<uint32_t>(outputAt),
                                           static_cast<uint32_t>(edit.replacement.size())});
        }
        bool wants_lines() const override { return false; }

    private:
        std::vector<uint32_t>& places_;
        const uint32_t limit_;
        int64_t shift_ = 0;
    } places(g_editPlaces, limit);
    g_editPlaces.clear();
    scan_text(g_input, CleanRules{options.precision, options.stable != 0, options.plain != 0, options.only}, places);
    return static_cast<int>(g_editPlaces.size() / 4);
}

WASM_EXPORT(mapclean_wasm_edit_places) const uint32_t* mapclean_wasm_edit_places() { return g_editPlaces.data(); }

// The length of the longest prefix of the text in the input buffer that
// cleans as a text of its own (piece_length; `wholeLines` for -only).
WASM_EXPORT(mapclean_wasm_piece_length) uint32_t mapclean_wasm_piece_length(int wholeLines) {
    return static_cast<uint32_t>(piece_length(g_input, wholeLines != 0));
}

// --- Settings files of a dropped folder -------------------------------------

namespace {

// The settings files the page found in a drop, by their paths below it
// ("/" + the path with '/'), standing for the file system: the drop's
// top is its root, and the current directory.
class DroppedConfigFiles final : public ConfigFiles {
public:
    char separator() const override { return '/'; }
    std::optional<std::string> current_directory() override { return std::string("/"); }
    bool exists(const std::string& path) override { return texts.count(path) > 0; }
    std::optional<std::string> read(const std::string& path, std::string& why) override {
        const auto found = texts.find(path);
        if (found != texts.end()) return found->second;
        why = "No such file or directory";
        return std::nullopt;
    }
    std::map<std::string, std::string> texts;
};

DroppedConfigFiles g_configFiles;
std::unique_ptr<ConfigLookup> g_configs;
MapPlan g_plan;

}  // namespace

// Adds a settings file: the input buffer holds its path, a NUL, its text.
// Clears every one before it when `first`.
WASM_EXPORT(mapclean_wasm_config_add) void mapclean_wasm_config_add(int first) {
    if (first) g_configFiles.texts.clear();
    const size_t nul = g_input.find('\0');
    g_configFiles.texts["/" + g_input.substr(0, nul)] = g_input.substr(nul + 1);
}

// Starts a run with the files added: the page's options, of which `given`
// (GivenRule bits) the user set, replacing the files' keys.
WASM_EXPORT(mapclean_wasm_config_start)
void mapclean_wasm_config_start(int precision, int stable, int plain, uint32_t only, uint32_t given) {
    RunSettings base;
    base.rules = CleanRules{precision, stable != 0, plain != 0, only};
    g_configs = std::make_unique<ConfigLookup>(g_configFiles, ConfigSource::nearest, base, given);
}

// The plan for the map whose path below the drop is in the input buffer:
// 0 (its rules through mapclean_wasm_planned), 1 excluded or 2 a settings
// file that cannot be used, the excluding file or the error in the output.
WASM_EXPORT(mapclean_wasm_plan) int mapclean_wasm_plan() {
    g_plan = g_configs->plan("/" + g_input);
    g_output.clear();
    if (g_plan.error) {
        g_output = *g_plan.error;
        return 2;
    }
    if (g_plan.excludedBy) {
        g_output = g_plan.excludedBy->source.file;
        return 1;
    }
    if (g_plan.file) g_output = g_plan.file->shownPath;
    return 0;
}

// The last plan's rules: 0 precision, 1 stable, 2 plain, 3 only.
WASM_EXPORT(mapclean_wasm_planned) int32_t mapclean_wasm_planned(uint32_t which) {
    const CleanRules& rules = g_plan.settings.rules;
    const int32_t values[] = {rules.precision, rules.stable, rules.plain, static_cast<int32_t>(rules.only)};
    return which < 4 ? values[which] : 0;
}
