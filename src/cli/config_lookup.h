// Which settings file applies to each map of a run: the nearest
// .mapclean.toml in the map's folder or above it, up to the repository's
// root (a folder holding .git) or the file system's; each file read once.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "cli/config.h"
#include "cli/settings.h"
#include "filepass/run_settings.h"

// A settings file that cannot be used; what() is the error line's text
// after "Error: ".
struct ConfigError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What a run's settings come to for one map: its settings, or the glob
// that excludes it.
struct MapPlan {
    RunSettings settings;
    RuleKeys keys;                          // the file's keys that applied
    const FolderGlob* excludedBy = nullptr;  // the file's glob that leaves it out
};

class ConfigLookup {
public:
    // `base`: the run's settings from its options, of which `given`
    // (GivenRule bits) were given. `named`: the -config file.
    ConfigLookup(ConfigSource source, const RunSettings& base, unsigned given, std::string named = {});

    // The plan for the map at `path` (as the run names it). Throws
    // ConfigError when a settings file it needs is wrong or unreadable,
    // std::bad_alloc.
    MapPlan plan(const std::string& path);
    // The settings file that applies in the folder at `path`, or null.
    // Throws as plan does.
    const ConfigFile* for_folder(const std::string& path);
    // True when a subfolder at `path` is left out by its settings file.
    bool excludes_folder(const std::string& path);

    // `path` absolute, '/' between names, "." and ".." taken away.
    std::string absolute(const std::string& path) const;

private:
    const ConfigFile* nearest(const std::string& folder);
    // The file at `file` (absolute), read once; `given`: its name as the
    // user gave it, if so. Throws as plan does.
    const ConfigFile& load(const std::string& file, int depth, const std::string& given);

    ConfigSource source_;
    RunSettings base_;
    unsigned given_;
    std::string named_;
    std::string currentDir_;                                  // absolute, '/'
    std::map<std::string, const ConfigFile*> byFolder_;        // nearest file of each folder seen (null: none)
    std::map<std::string, std::unique_ptr<ConfigFile>> files_;  // each file read, by absolute path
};
