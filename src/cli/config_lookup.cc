#include "cli/config_lookup.h"

#include <algorithm>
#include <vector>

#include "cli/platform.h"
#include "filepass/file_io.h"

namespace {

// The longest settings file read: far more than any list of keys needs.
constexpr size_t kLargestConfig = 1 << 20;
// How many files one "extend" chain may name before it is taken for a loop.
constexpr int kDeepestExtend = 32;

// '/' between names, whatever the platform writes.
std::string with_slashes(std::string path) {
    if (kPathSeparator != '/') std::replace(path.begin(), path.end(), kPathSeparator, '/');
    return path;
}

// How long the root part of an absolute path is ("/", "C:/", "//server/share/"),
// or 0 for a relative one.
size_t root_length(const std::string& path) {
    if (kPathSeparator == '/') return path.starts_with('/') ? 1 : 0;
    if (path.size() >= 3 && path[1] == ':' && path[2] == '/') return 3;
    if (path.starts_with("//")) {
        size_t end = path.find('/', 2);
        if (end != std::string::npos) end = path.find('/', end + 1);
        return end == std::string::npos ? path.size() : end + 1;
    }
    return 0;
}

// The folder holding `path` (absolute, normalised), or "" at the root.
std::string parent_of(const std::string& path) {
    const size_t root = root_length(path);
    if (path.size() <= root) return {};
    const size_t slash = path.rfind('/');
    return slash < root ? path.substr(0, root) : path.substr(0, std::max(slash, root));
}

std::string child_of(const std::string& folder, std::string_view name) {
    return folder.ends_with('/') ? folder + std::string(name) : folder + '/' + std::string(name);
}

// The text of the file at `path`; throws ConfigError.
std::string read_small_file(const std::string& path, const std::string& shown) {
    FileReader reader;
    IoFailure failure;
    if (!reader.open(file_at_path(path).location, failure)) {
        throw ConfigError(shown + ": cannot be read (" + failure_reason(failure, parent_of(path)) + ")");
    }
    if (reader.size_when_opened() > kLargestConfig) throw ConfigError(shown + ": larger than a settings file can be");
    std::string text(static_cast<size_t>(reader.size_when_opened()), '\0');
    size_t got = 0;
    while (got < text.size()) {
        int error = 0;
        const int64_t n = reader.read_at(got, text.data() + got, text.size() - got, error);
        if (n < 0) throw ConfigError(shown + ": cannot be read (" + system_error_text(error) + ")");
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    text.resize(got);
    return text;
}

}  // namespace

ConfigLookup::ConfigLookup(ConfigSource source, const RunSettings& base, unsigned given, std::string named)
    : source_(source), base_(base), given_(given), named_(std::move(named)) {
    if (const auto current = current_directory()) currentDir_ = with_slashes(*current);
}

std::string ConfigLookup::absolute(const std::string& given) const {
    std::string path = with_slashes(given);
    if (root_length(path) == 0) {
        if (currentDir_.empty()) throw ConfigError("the current directory cannot be read to find settings files");
        path = child_of(currentDir_, path);
    }
    const size_t root = root_length(path);
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

const ConfigFile& ConfigLookup::load(const std::string& file, int depth, const std::string& given) {
    if (const auto found = files_.find(file); found != files_.end()) return *found->second;
    // As the user named it; else below the current directory as a relative path.
    std::string shown = given.empty() ? file : given;
    const std::string here = currentDir_.ends_with('/') ? currentDir_ : currentDir_ + '/';
    if (given.empty() && !currentDir_.empty() && file.starts_with(here)) shown = file.substr(here.size());
    if (given.empty() && kPathSeparator != '/') std::replace(shown.begin(), shown.end(), '/', kPathSeparator);

    auto config = std::make_unique<ConfigFile>();
    config->shownPath = shown;
    config->folder = parent_of(file);
    std::string extend;
    if (auto error = read_config(read_small_file(file, shown), config->folder, *config, extend)) throw ConfigError(*error);
    if (!extend.empty()) {
        if (depth >= kDeepestExtend) throw ConfigError(shown + ": extend names files in a loop");
        const std::string parentFile = absolute(root_length(with_slashes(extend)) > 0 ? extend
                                                                                      : child_of(config->folder, extend));
        ConfigFile merged = load(parentFile, depth + 1, {});
        merged.shownPath = config->shownPath;
        merged.folder = config->folder;
        merged.keys.take(config->keys);
        merged.excludes.insert(merged.excludes.end(), config->excludes.begin(), config->excludes.end());
        merged.overrides.insert(merged.overrides.end(), config->overrides.begin(), config->overrides.end());
        *config = std::move(merged);
    }
    return *files_.emplace(file, std::move(config)).first->second;
}

const ConfigFile* ConfigLookup::nearest(const std::string& folder) {
    std::vector<std::string> passed;  // folders whose nearest file is the one found
    const ConfigFile* found = nullptr;
    for (std::string at = folder; !at.empty(); at = parent_of(at)) {
        if (const auto known = byFolder_.find(at); known != byFolder_.end()) {
            found = known->second;
            break;
        }
        passed.push_back(at);
        const std::string file = child_of(at, kConfigName);
        if (path_exists(file)) {
            found = &load(file, 0, {});
            break;
        }
        if (path_exists(child_of(at, ".git"))) break;  // the repository's root
    }
    for (const std::string& at : passed) byFolder_[at] = found;
    return found;
}

const ConfigFile* ConfigLookup::for_folder(const std::string& path) {
    switch (source_) {
    case ConfigSource::none:
        return nullptr;
    case ConfigSource::named:
        return &load(absolute(named_), 0, named_);
    case ConfigSource::nearest:
        break;
    }
    return nearest(absolute(path));
}

MapPlan ConfigLookup::plan(const std::string& path) {
    const std::string file = absolute(path);
    MapPlan plan{base_, {}, nullptr};
    const ConfigFile* config = source_ == ConfigSource::none ? nullptr : for_folder(parent_of(file));
    if (!config) return plan;
    plan.keys = keys_for(*config, file);
    plan.excludedBy = excluding_glob(*config, file);
    CleanRules& rules = plan.settings.rules;
    if (plan.keys.precision.value && !(given_ & given_precision)) rules.precision = *plan.keys.precision.value;
    if (plan.keys.plain.value && !(given_ & given_plain)) rules.plain = *plan.keys.plain.value;
    if (plan.keys.only.value && !(given_ & given_only)) rules.only = *plan.keys.only.value;
    if (plan.keys.stable.value && !(given_ & given_stable)) rules.stable = *plan.keys.stable.value;
    return plan;
}

bool ConfigLookup::excludes_folder(const std::string& path) {
    if (source_ == ConfigSource::none) return false;
    const std::string folder = absolute(path);
    const ConfigFile* config = for_folder(folder);
    return config && excluding_glob(*config, folder) != nullptr;
}
