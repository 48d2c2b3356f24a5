// Writes a large, realistic ".map" file to stdout.
//
//   make_map SIZE_MB NOISY_PERCENT [SEED] > file.map
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "map_generator.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_map SIZE_MB NOISY_PERCENT [SEED] > file.map\n");
        return 2;
    }
    const long long target = std::atoll(argv[1]) * 1024 * 1024;
    mapgen::Writer writer(std::atoi(argv[2]), argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 1u);
    std::string text = "// Game: Quake\n// Format: Valve\n";
    long long written = 0;
    while (written < target) {
        text += writer.entity();
        if (text.size() > (1 << 20) || written + static_cast<long long>(text.size()) >= target) {
            const long long size = std::min<long long>(target - written, static_cast<long long>(text.size()));
            std::fwrite(text.data(), 1, static_cast<size_t>(size), stdout);
            written += size;
            text.clear();
        }
    }
    return 0;
}
