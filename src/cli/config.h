// A repository's settings file (.mapclean.toml): its keys read, and what
// they say for one map. Pure: texts in, settings out; finding and reading
// the files is config_lookup's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The name every settings file has.
inline constexpr std::string_view kConfigName = ".mapclean.toml";

// Where a setting's value was written: a file's name as shown and a line.
struct KeySource {
    std::string file;
    int64_t line = 0;
};

// One key's value, when given, and where.
template <typename T>
struct Keyed {
    std::optional<T> value;
    KeySource source;
};

// The keys that decide how a map's numbers are rewritten.
struct RuleKeys {
    Keyed<int32_t> precision;  // < 0: automatic ("auto")
    Keyed<bool> plain;
    Keyed<unsigned> only;  // MapField bits
    Keyed<bool> stable;
    // Each key given in `later` replaces this one's.
    void take(const RuleKeys& later);
};

// A glob of a settings file, relative to that file's folder.
struct FolderGlob {
    std::string pattern;  // '/' between names; "**" any number of folders
    std::string folder;   // the file's folder, absolute, '/' between names
    KeySource source;
};

// What one settings file says, with the keys of the file it extends taken
// first.
struct ConfigFile {
    std::string shownPath;  // as lines name it
    std::string folder;     // its folder, absolute, '/' between names
    RuleKeys keys;
    std::vector<FolderGlob> excludes;
    struct Override {
        std::vector<FolderGlob> files;
        RuleKeys keys;
    };
    std::vector<Override> overrides;  // applied in order, later ones winning
};

// Reads the text of a settings file into `config` (new, its shownPath set).
// `folder` is the file's folder, absolute with '/' between names. Returns
// the error line's text ("FILE:LINE: what is wrong") for a text that is no
// TOML, an unknown key, a wrong type or a bad value; nullopt when it is
// read. `extend` gets the value of its "extend" key, or stays empty.
std::optional<std::string> read_config(std::string_view text, const std::string& folder, ConfigFile& config,
                                       std::string& extend);

// The rule keys `config` gives the map at `path` (absolute, '/' between
// names): its own keys, then each override whose files match, in order.
RuleKeys keys_for(const ConfigFile& config, std::string_view path);

// The exclude glob of `config` that matches `path` (absolute, '/'), or null.
const FolderGlob* excluding_glob(const ConfigFile& config, std::string_view path);

// True when `name` matches `glob`, neither holding a '/': '*' stands for
// any bytes, '?' for one.
bool name_matches(std::string_view glob, std::string_view name);

// True when `glob` matches `path` (absolute, '/'): a pattern with no '/'
// matches the name of the entry or of any folder between it and the glob's
// folder; one with a '/' matches the path below that folder, or that of a
// folder the entry is in. '*' and '?' stop at '/', "**" as a whole name
// stands for any number of folders.
bool glob_matches(const FolderGlob& glob, std::string_view path);
