#include "cli/directory.h"

#include <chrono>
#include <cstdio>

#include "cli/platform.h"
#include "filepass/console.h"
#include "filepass/file_pass.h"

int64_t process_directory(const std::string& dirPath, int promptForCommit) {
    const auto names = list_map_files(dirPath);
    if (!names || names->empty()) {
        print_error("No .map files found in directory: %s\n", dirPath.c_str());
        return 0;
    }

    int64_t totalEdits = 0;
    const auto overallStart = std::chrono::steady_clock::now();
    for (const std::string& name : *names) {
        const int64_t fileEdits = process_file(dirPath + path_separator() + name, promptForCommit);
        if (fileEdits >= 0) totalEdits += fileEdits;
    }
    const std::chrono::duration<double> elapsedSec =
        std::chrono::steady_clock::now() - overallStart;
    std::printf("Overall processing time: %.3f seconds\n", elapsedSec.count());
    return totalEdits;
}

int64_t process_current_directory(int promptForCommit) {
    const auto currentDir = current_directory();
    if (!currentDir) {
        print_error("Error reading the current directory\n");
        return 0;
    }
    std::printf("No target specified. Processing .map files in current directory: %s\n",
                currentDir->c_str());
    return process_directory(*currentDir, promptForCommit);
}
