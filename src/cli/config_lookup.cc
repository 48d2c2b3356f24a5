#include "cli/config_lookup.h"

#include <algorithm>
#include <vector>

#include "core/map_fields.h"
#include "filepass/names.h"

namespace {

// How many files one "extend" chain may name before it is taken for a loop.
constexpr int kDeepestExtend = 32;

// How long the root part of an absolute path is ("/", "C:/",
// "//server/share/"), or 0 for a relative one; '/' between names.
size_t root_length(const std::string& path, char separator) {
    if (separator == '/') return path.starts_with('/') ? 1 : 0;
    if (path.size() >= 3 && path[1] == ':' && path[2] == '/') return 3;
    if (path.starts_with("//")) {
        size_t end = path.find('/', 2);
        if (end != std::string::npos) end = path.find('/', end + 1);
        return end == std::string::npos ? path.size() : end + 1;
    }
    return 0;
}

// The folder holding `path` (absolute, normalised), or "" above the root.
std::string parent_of(const std::string& path, char separator) {
    const size_t root = root_length(path, separator);
    if (path.size() <= root) return {};
    const size_t slash = path.rfind('/');
    return slash < root ? path.substr(0, root) : path.substr(0, std::max(slash, root));
}

std::string child_of(const std::string& folder, std::string_view name) {
    return folder.ends_with('/') ? folder + std::string(name) : folder + '/' + std::string(name);
}

// `path` with the platform's separators made '/'.
std::string with_slashes(std::string path, char separator) {
    if (separator != '/') std::replace(path.begin(), path.end(), separator, '/');
    return path;
}

// "-only"'s words for `fields`, the groups first.
std::string field_names(unsigned fields) {
    std::string names;
    unsigned named = 0;
    for (const FieldName& name : kFieldNames) {
        if ((fields & name.fields) != name.fields || (named & name.fields) == name.fields) continue;
        if (!names.empty()) names += ',';
        names += name.name;
        named |= name.fields;
    }
    return names;
}

}  // namespace

ConfigLookup::ConfigLookup(ConfigFiles& files, ConfigSource source, const RunSettings& base, unsigned given,
                           std::string named)
    : files_(files), source_(source), base_(base), given_(given), named_(std::move(named)) {
    if (source_ == ConfigSource::none) return;
    if (const auto current = files_.current_directory()) currentDir_ = with_slashes(*current, files_.separator());
}

std::optional<std::string> ConfigLookup::absolute(const std::string& given) const {
    const char separator = files_.separator();
    std::string path = with_slashes(given, separator);
    if (root_length(path, separator) == 0) {
        if (currentDir_.empty()) return std::nullopt;
        path = child_of(currentDir_, path);
    }
    const size_t root = root_length(path, separator);
    std::vector<std::string_view> names;
    for (size_t at = root; at < path.size();) {
        size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        const std::string_view name = std::string_view(path).substr(at, end - at);
        if (name == "..") {
            if (!names.empty()) names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        at = end + 1;
    }
    std::string result = path.substr(0, root);
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) result += '/';
        result += names[i];
    }
    return result;
}

const ConfigFile* ConfigLookup::fail(std::string error) {
    lastError_ = error;
    if (!error_) error_ = std::move(error);
    return nullptr;
}

const ConfigFile* ConfigLookup::load(const std::string& file, int depth, const std::string& given) {
    if (const auto found = loaded_.find(file); found != loaded_.end()) return found->second.get();
    const char separator = files_.separator();
    // As the user named it; else below the current directory as a relative path.
    std::string shown = given;
    if (shown.empty()) {
        const std::string here = currentDir_.ends_with('/') ? currentDir_ : currentDir_ + '/';
        shown = !currentDir_.empty() && file.starts_with(here) ? file.substr(here.size()) : file;
        if (separator != '/') std::replace(shown.begin(), shown.end(), '/', separator);
    }
    auto config = std::make_unique<ConfigFile>();
    config->shownPath = shown;
    config->folder = parent_of(file, separator);
    std::string why;
    const std::optional<std::string> text = files_.read(file, why);
    if (!text) return fail(shown + ": cannot be read (" + why + ")");
    std::string extend;
    if (auto error = read_config(*text, config->folder, *config, extend)) return fail(std::move(*error));
    if (!extend.empty()) {
        if (depth >= kDeepestExtend) return fail(shown + ": extend names files in a loop");
        const std::string named = with_slashes(extend, separator);
        const auto parentFile = absolute(root_length(named, separator) > 0 ? named : child_of(config->folder, named));
        const ConfigFile* parent = parentFile ? load(*parentFile, depth + 1, {}) : nullptr;
        if (!parent) return nullptr;
        ConfigFile merged = *parent;
        merged.shownPath = config->shownPath;
        merged.folder = config->folder;
        merged.keys.take(config->keys);
        merged.excludes.insert(merged.excludes.end(), config->excludes.begin(), config->excludes.end());
        merged.overrides.insert(merged.overrides.end(), config->overrides.begin(), config->overrides.end());
        *config = std::move(merged);
    }
    return loaded_.emplace(file, std::move(config)).first->second.get();
}

const ConfigFile* ConfigLookup::nearest(const std::string& folder) {
    std::vector<std::string> passed;  // folders whose nearest file is the one found
    const ConfigFile* found = nullptr;
    bool failed = false;
    for (std::string at = folder; !at.empty(); at = parent_of(at, files_.separator())) {
        if (const auto known = byFolder_.find(at); known != byFolder_.end()) {
            found = known->second;
            break;
        }
        passed.push_back(at);
        const std::string file = child_of(at, kConfigName);
        if (files_.exists(file)) {
            found = load(file, 0, {});
            failed = !found;
            break;
        }
        if (files_.exists(child_of(at, ".git"))) break;  // the repository's root
    }
    if (!failed) {
        for (const std::string& at : passed) byFolder_[at] = found;
    }
    return found;
}

const ConfigFile* ConfigLookup::in_folder(const std::optional<std::string>& folder) {
    lastError_.reset();
    switch (source_) {
    case ConfigSource::none:
        return nullptr;
    case ConfigSource::named:
        if (const auto file = absolute(named_)) return load(*file, 0, named_);
        return fail("the current directory cannot be read to find " + named_);
    case ConfigSource::nearest:
        break;
    }
    // A current directory that cannot be read (removed meanwhile) has no
    // folders above it to search: a relative path then has no settings file.
    return folder ? nearest(*folder) : nullptr;
}

const ConfigFile* ConfigLookup::for_folder(const std::string& path) { return in_folder(absolute(path)); }

MapPlan ConfigLookup::plan(const std::string& path) {
    MapPlan plan{base_, {}, nullptr, nullptr, std::nullopt};
    if (source_ == ConfigSource::none) return plan;
    const auto file = absolute(path);
    plan.file = in_folder(file ? std::optional(parent_of(*file, files_.separator())) : std::nullopt);
    plan.error = lastError_;
    if (!plan.file || !file) return plan;
    plan.keys = keys_for(*plan.file, *file);
    plan.excludedBy = excluding_glob(*plan.file, *file);
    CleanRules& rules = plan.settings.rules;
    if (plan.keys.precision.value && !(given_ & given_precision)) rules.precision = *plan.keys.precision.value;
    if (plan.keys.plain.value && !(given_ & given_plain)) rules.plain = *plan.keys.plain.value;
    if (plan.keys.only.value && !(given_ & given_only)) rules.only = *plan.keys.only.value;
    if (plan.keys.stable.value && !(given_ & given_stable)) rules.stable = *plan.keys.stable.value;
    return plan;
}

bool ConfigLookup::excludes_folder(const std::string& path) {
    if (source_ == ConfigSource::none) return false;
    const auto folder = absolute(path);
    const ConfigFile* config = folder ? in_folder(folder) : nullptr;
    return config && excluding_glob(*config, *folder) != nullptr;
}

std::string describe_settings(const std::string& path, const MapPlan& plan, unsigned given) {
    const auto from = [&](unsigned bit, const auto& key) {
        if (given & bit) return std::string("option");
        if (key.value) return printable_name(key.source.file) + ':' + std::to_string(key.source.line);
        return std::string("default");
    };
    const CleanRules& rules = plan.settings.rules;
    std::string text = "Settings for " + printable_name(path) + "\n";
    text += "  settings file: " + (plan.file ? printable_name(plan.file->shownPath) : std::string("none")) + "\n";
    text += "  precision = " + (rules.precision < 0 ? std::string("\"auto\"") : std::to_string(rules.precision)) +
            " (" + from(given_precision, plan.keys.precision) + ")\n";
    text += std::string("  plain = ") + (rules.plain ? "true" : "false") + " (" + from(given_plain, plan.keys.plain) +
            ")\n";
    text += "  only = " + (rules.only == 0 ? std::string("every field") : field_names(rules.only)) + " (" +
            from(given_only, plan.keys.only) + ")\n";
    text += std::string("  stable = ") + (rules.stable ? "true" : "false") + " (" +
            from(given_stable, plan.keys.stable) + ")\n";
    if (plan.excludedBy) {
        text += "  excluded by \"" + printable_name(plan.excludedBy->pattern) + "\" (" +
                printable_name(plan.excludedBy->source.file) + ':' +
                std::to_string(plan.excludedBy->source.line) + ")\n";
    } else {
        text += "  not excluded\n";
    }
    return text;
}
