#include "cli/config_files.h"

#include "cli/platform.h"
#include "filepass/file_io.h"

namespace {

// The longest settings file read: far more than any list of keys needs.
constexpr size_t kLargestConfig = 1 << 20;

}  // namespace

char SystemConfigFiles::separator() const { return kPathSeparator; }

std::optional<std::string> SystemConfigFiles::current_directory() { return ::current_directory(); }

bool SystemConfigFiles::exists(const std::string& path) { return path_exists(path); }

std::optional<std::string> SystemConfigFiles::read(const std::string& path, std::string& why) {
    FileReader reader;
    IoFailure failure;
    if (!reader.open(file_at_path(path).location, failure)) {
        why = failure_reason(failure, path);
        return std::nullopt;
    }
    if (reader.size_when_opened() > kLargestConfig) {
        why = "larger than a settings file can be";
        return std::nullopt;
    }
    std::string text(static_cast<size_t>(reader.size_when_opened()), '\0');
    size_t got = 0;
    while (got < text.size()) {
        int error = 0;
        const int64_t n = reader.read_at(got, text.data() + got, text.size() - got, error);
        if (n < 0) {
            why = system_error_text(error);
            return std::nullopt;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    text.resize(got);
    return text;
}
