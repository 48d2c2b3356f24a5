#include "cli/config.h"

// Built with TOML_EXCEPTIONS=0 (the WebAssembly build has no exceptions),
// so that every build reads a file alike.
#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

#include "cli/options.h"

void RuleKeys::take(const RuleKeys& later) {
    if (later.precision.value) precision = later.precision;
    if (later.plain.value) plain = later.plain;
    if (later.only.value) only = later.only;
    if (later.stable.value) stable = later.stable;
}

namespace {

// The reading of one file: its name for error lines, its folder for globs.
struct Reader {
    const std::string& shownPath;
    const std::string& folder;
    std::optional<std::string> error;

    bool fail(const toml::source_region& where, const std::string& what) {
        if (!error) error = shownPath + ':' + std::to_string(where.begin.line) + ": " + what;
        return false;
    }
    KeySource source_of(const toml::key& key) const {
        return KeySource{shownPath, static_cast<int64_t>(key.source().begin.line)};
    }

    // One of the rule keys into `keys`; false when `key` is none of them.
    bool read_rule(const toml::key& key, const toml::node& value, RuleKeys& keys) {
        const std::string_view name = key.str();
        if (name == "precision") {
            if (const auto* text = value.as_string(); text && text->get() == "auto") {
                keys.precision = {-1, source_of(key)};
            } else if (const auto* number = value.as_integer()) {
                keys.precision = {saturated_precision(number->get()), source_of(key)};
            } else {
                return fail(key.source(), "precision must be a whole number or \"auto\"");
            }
        } else if (name == "plain" || name == "stable") {
            const auto* flag = value.as_boolean();
            if (!flag) return fail(key.source(), std::string(name) + " must be true or false");
            (name == "plain" ? keys.plain : keys.stable) = {flag->get(), source_of(key)};
        } else if (name == "only") {
            std::string list;
            bool typed = value.is_string();
            if (typed) list = value.as_string()->get();
            if (const auto* words = value.as_array()) {
                typed = !words->empty();
                for (const toml::node& word : *words) {
                    typed = typed && word.is_string();
                    if (!typed) continue;
                    if (!list.empty()) list += ',';
                    list += word.as_string()->get();
                }
            }
            const std::optional<unsigned> fields = typed ? parse_fields(list) : std::nullopt;
            if (!fields) return fail(key.source(), "only takes " + std::string(kFieldWords));
            keys.only = {*fields, source_of(key)};
        } else {
            return false;
        }
        return true;
    }

    // A list of globs (or one) into `globs`, relative to the file's folder.
    bool read_globs(const toml::key& key, const toml::node& value, std::vector<FolderGlob>& globs) {
        const std::string what = std::string(key.str()) + " must be a list of globs relative to its file's folder";
        std::vector<const toml::node*> items;
        if (const auto* list = value.as_array()) {
            for (const toml::node& item : *list) items.push_back(&item);
        } else {
            items.push_back(&value);
        }
        for (const toml::node* item : items) {
            const auto* text = item->as_string();
            if (!text) return fail(key.source(), what);
            std::string_view pattern = text->get();
            while (pattern.starts_with("./")) pattern.remove_prefix(2);
            while (pattern.size() > 1 && pattern.ends_with('/')) pattern.remove_suffix(1);
            const bool climbs = pattern == ".." || pattern.starts_with("../") || pattern.find("/../") != pattern.npos ||
                                pattern.ends_with("/..");
            if (pattern.empty() || pattern.starts_with('/') || pattern.find('\\') != pattern.npos || climbs) {
                return fail(item->source(), what);
            }
            globs.push_back(FolderGlob{std::string(pattern), folder, source_of(key)});
        }
        return true;
    }

    bool read_override(const toml::table& table, ConfigFile::Override& entry) {
        for (const auto& [key, value] : table) {
            if (key.str() == "files") {
                if (!read_globs(key, value, entry.files)) return false;
            } else if (!read_rule(key, value, entry.keys)) {
                if (error) return false;
                return fail(key.source(), "unknown key in [[overrides]]: " + std::string(key.str()) +
                                              " (it takes files, precision, plain, only and stable)");
            }
        }
        if (entry.files.empty()) return fail(table.source(), "each [[overrides]] needs files = [globs]");
        return true;
    }

    bool read_file(const toml::table& table, ConfigFile& config, std::string& extend) {
        RuleKeys keys;
        for (const auto& [key, value] : table) {
            const std::string_view name = key.str();
            if (name == "exclude") {
                if (!read_globs(key, value, config.excludes)) return false;
            } else if (name == "extend") {
                if (!value.is_string()) return fail(key.source(), "extend must name a settings file");
                extend = value.as_string()->get();
            } else if (name == "overrides") {
                const auto* list = value.as_array();
                if (!list || !list->is_array_of_tables()) return fail(key.source(), "overrides must be [[overrides]] tables");
                for (const toml::node& item : *list) {
                    ConfigFile::Override entry;
                    if (!read_override(*item.as_table(), entry)) return false;
                    config.overrides.push_back(std::move(entry));
                }
            } else if (!read_rule(key, value, keys)) {
                if (error) return false;
                return fail(key.source(), "unknown key: " + std::string(name) +
                                              " (keys: precision, plain, only, stable, exclude, extend, overrides)");
            }
        }
        config.keys.take(keys);
        return true;
    }
};

}  // namespace

bool name_matches(std::string_view glob, std::string_view name) {
    // Backtracking to the last '*' is enough when '*' and '?' are all there is.
    size_t g = 0, t = 0;
    size_t starAt = std::string_view::npos, nameAtStar = 0;
    while (t < name.size()) {
        if (g < glob.size() && glob[g] == '*') {
            starAt = g++;
            nameAtStar = t;
        } else if (g < glob.size() && (glob[g] == '?' || glob[g] == name[t])) {
            ++g;
            ++t;
        } else if (starAt != std::string_view::npos) {
            g = starAt + 1;
            t = ++nameAtStar;
        } else {
            return false;
        }
    }
    while (g < glob.size() && glob[g] == '*') ++g;
    return g == glob.size();
}

namespace {

std::string_view first_name(std::string_view path) { return path.substr(0, path.find('/')); }
std::string_view after_first(std::string_view path) {
    const size_t slash = path.find('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
}

// The whole of `path` (names below the glob's folder) against `glob`.
bool path_matches(std::string_view glob, std::string_view path) {
    if (glob.empty()) return path.empty();
    const std::string_view name = first_name(glob);
    if (name == "**") {
        const std::string_view rest = after_first(glob);
        for (;;) {  // "**" takes no names, then one more each time
            if (path_matches(rest, path)) return true;
            if (path.empty()) return false;
            path = after_first(path);
        }
    }
    if (path.empty() || !name_matches(name, first_name(path))) return false;
    const bool lastName = glob.find('/') == std::string_view::npos;
    const bool pathEnds = path.find('/') == std::string_view::npos;
    if (lastName || pathEnds) return lastName && pathEnds;
    return path_matches(after_first(glob), after_first(path));
}

}  // namespace

std::optional<std::string> read_config(std::string_view text, const std::string& folder, ConfigFile& config,
                                       std::string& extend) {
    Reader reader{config.shownPath, folder, std::nullopt};
    toml::parse_result parsed = toml::parse(text);
    if (!parsed) {
        reader.fail(parsed.error().source(), std::string(parsed.error().description()));
        return reader.error;
    }
    reader.read_file(parsed.table(), config, extend);
    return reader.error;
}

bool glob_matches(const FolderGlob& glob, std::string_view path) {
    if (!path.starts_with(glob.folder)) return false;
    std::string_view below = path.substr(glob.folder.size());
    if (!glob.folder.ends_with('/')) {
        if (!below.starts_with('/')) return false;
        below.remove_prefix(1);
    }
    if (glob.pattern.find('/') == std::string::npos) {
        for (std::string_view rest = below; !rest.empty(); rest = after_first(rest)) {
            if (name_matches(glob.pattern, first_name(rest))) return true;
        }
        return false;
    }
    // The path itself, or a folder it is in.
    for (size_t end = below.size(); end != std::string_view::npos && end > 0; end = below.rfind('/', end - 1)) {
        if (path_matches(glob.pattern, below.substr(0, end))) return true;
    }
    return false;
}

RuleKeys keys_for(const ConfigFile& config, std::string_view path) {
    RuleKeys keys = config.keys;
    for (const ConfigFile::Override& entry : config.overrides) {
        for (const FolderGlob& glob : entry.files) {
            if (glob_matches(glob, path)) {
                keys.take(entry.keys);
                break;
            }
        }
    }
    return keys;
}

const FolderGlob* excluding_glob(const ConfigFile& config, std::string_view path) {
    for (const FolderGlob& glob : config.excludes) {
        if (glob_matches(glob, path)) return &glob;
    }
    return nullptr;
}
