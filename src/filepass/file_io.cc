#include "filepass/file_io.h"

#include "filepass/names.h"

std::string joined_path(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (!path.empty() && path.back() != kPathSeparator && path.back() != '/') path += kPathSeparator;
    return path.append(name);
}

std::string failure_reason(const IoFailure& failure, std::string_view directory) {
    const std::string system = failure.error != 0 ? system_error_text(failure.error) : "";
    switch (failure.step) {
    case IoFailure::none:
        return std::string();
    case IoFailure::not_regular:
        return failure.error != 0 ? system : "not a regular file";
    case IoFailure::link:
        return "it has become a symbolic link";
    case IoFailure::memory:
        return "out of memory";
    case IoFailure::changed:
        return "the file changed while it was being cleaned";
    case IoFailure::create_temporary:
        return "cannot create a temporary file in " + printable_name(directory) + ": " + system;
    case IoFailure::attributes:
        return "cannot give the new file the original's attributes: " + system;
    case IoFailure::replace:
        return "cannot replace the file: " + system;
    case IoFailure::moved:
        return "its directory was moved meanwhile";
    case IoFailure::long_line:
        return "a line is longer than 1 MiB, which -only does not read";
    case IoFailure::scratch:
        return "cannot write a temporary file in " + printable_name(ScratchFile::directory()) + ": " + system;
    case IoFailure::open:
    case IoFailure::read:
    case IoFailure::write:
        break;
    }
    return system;
}
