// The design as written, for side-by-side timing: the whole file read, strtod
// on every token, the output grown byte by byte, the whole file written
// back ("wb"), silently. Built from the tests' model of that computation.
//
//   baseline [-p N] file.map
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "model.h"

int main(int argc, char** argv) {
    int precision = -1;
    int arg = 1;
    if (argc > 3 && std::string(argv[1]) == "-p") {
        precision = std::atoi(argv[2]);
        arg = 3;
    }
    if (arg >= argc) {
        std::fprintf(stderr, "usage: baseline [-p N] file.map\n");
        return 2;
    }
    std::ifstream in(argv[arg], std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    const ModelScan result = model_scan(content.str(), precision);
    std::printf("File: %s  Edits: %lld\n", argv[arg], static_cast<long long>(result.edits));
    if (result.edits > 0) {
        std::FILE* out = std::fopen(argv[arg], "wb");
        if (!out) return 1;
        std::fwrite(result.output.data(), 1, result.output.size(), out);
        std::fclose(out);
    }
    return 0;
}
