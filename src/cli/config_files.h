// The program's settings files: found and read through the platform's
// calls, as every other file of a run is.
#pragma once

#include "cli/config_lookup.h"

class SystemConfigFiles final : public ConfigFiles {
public:
    char separator() const override;
    // Throws std::bad_alloc.
    std::optional<std::string> current_directory() override;
    bool exists(const std::string& path) override;
    // A file larger than a settings file can be (1 MiB) is not read.
    std::optional<std::string> read(const std::string& path, std::string& why) override;
};
