// Which settings file applies to each map of a run: the nearest
// .mapclean.toml in the map's folder or above it, up to the repository's
// root (a folder holding .git) or the file system's; each file read once.
// The files come through ConfigFiles: the program's (config_files.h) or
// the npm module's, so that both find and read them alike.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "cli/config.h"
#include "cli/settings.h"
#include "filepass/run_settings.h"

// What finding and reading settings files asks of the system.
class ConfigFiles {
public:
    virtual ~ConfigFiles() = default;
    // The separator the platform puts between names ('/' or '\\').
    virtual char separator() const = 0;
    // The current directory, or nullopt when it cannot be read.
    virtual std::optional<std::string> current_directory() = 0;
    // True when an entry of any kind is at `path`.
    virtual bool exists(const std::string& path) = 0;
    // The text of the file at `path`, or nullopt with the reason in `why`.
    virtual std::optional<std::string> read(const std::string& path, std::string& why) = 0;
};

// What a run's settings come to for one map: its settings, or the glob
// that excludes it, or why its settings file cannot be used.
struct MapPlan {
    RunSettings settings;
    RuleKeys keys;                           // the file's keys that applied
    const ConfigFile* file = nullptr;        // the settings file that applied
    const FolderGlob* excludedBy = nullptr;  // the file's glob that leaves it out
    std::optional<std::string> error;        // the error line's text after "Error: "
};

class ConfigLookup {
public:
    // `base`: the run's settings from its options, of which `given`
    // (GivenRule bits) were given. `named`: the -config file.
    ConfigLookup(ConfigFiles& files, ConfigSource source, const RunSettings& base, unsigned given,
                 std::string named = {});

    // The plan for the map at `path` (as the run names it).
    MapPlan plan(const std::string& path);
    // The settings file that applies in the folder at `path`, or null (none,
    // or one that cannot be used: error() says so).
    const ConfigFile* for_folder(const std::string& path);
    // True when a subfolder at `path` is left out by its settings file.
    bool excludes_folder(const std::string& path);
    // The first settings file that could not be used: the error line's
    // text after "Error: " ("maps/.mapclean.toml:3: precision must be ...").
    const std::optional<std::string>& error() const { return error_; }

    // `path` absolute, '/' between names, "." and ".." taken away; nullopt
    // when it is relative and the current directory cannot be read.
    std::optional<std::string> absolute(const std::string& path) const;

private:
    const ConfigFile* nearest(const std::string& folder);
    // for_folder for the folder already made absolute (nullopt: it could
    // not be).
    const ConfigFile* in_folder(const std::optional<std::string>& folder);
    // The file at `file` (absolute), read once; `given`: its name as the
    // user gave it, if so. Null when it cannot be used.
    const ConfigFile* load(const std::string& file, int depth, const std::string& given);
    const ConfigFile* fail(std::string error);

    ConfigFiles& files_;
    ConfigSource source_;
    RunSettings base_;
    unsigned given_;
    std::string named_;
    std::string currentDir_;                                    // absolute, '/'
    std::optional<std::string> error_;
    std::optional<std::string> lastError_;                      // of the latest call
    std::map<std::string, const ConfigFile*> byFolder_;         // nearest file of each folder seen (null: none)
    std::map<std::string, std::unique_ptr<ConfigFile>> loaded_;  // each file read, by absolute path
};

// The lines -show-settings prints for `path`: the settings file, each rule
// setting with where it came from (option, FILE:LINE or default), and the
// exclusion. `given`: GivenRule bits.
std::string describe_settings(const std::string& path, const MapPlan& plan, unsigned given);
