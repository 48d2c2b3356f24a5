// Counts the numbers of each map field ("-only") in the files given, for
// the figures of the map-aware options: field_counts FILE...
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "core/map_fields.h"

int main(int argc, char** argv) {
    long long lines = 0;
    long long counts[std::size(kFieldNames)] = {};
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        for (size_t at = 0; at < text.size();) {
            const size_t newline = text.find('\n', at);
            const size_t end = newline == std::string::npos ? text.size() : newline + 1;
            for (const FieldNumber& number : field_numbers(std::string_view(text).substr(at, end - at))) {
                for (size_t k = 0; k < std::size(kFieldNames); ++k) counts[k] += (kFieldNames[k].fields & number.field) != 0;
            }
            ++lines;
            at = end;
        }
    }
    std::printf("files %d  lines %lld", argc - 1, lines);
    for (size_t k = 0; k < std::size(kFieldNames); ++k) {
        std::printf("  %.*s %lld", static_cast<int>(kFieldNames[k].name.size()), kFieldNames[k].name.data(), counts[k]);
    }
    std::printf("\n");
}
