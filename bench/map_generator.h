// A generator of realistic ".map" text: Quake-style entities with brushes
// (faces with points, texture axes, offsets, rotation and scale) and entity
// keys, with a chosen share of numbers printed as floating-point noise.
#pragma once

#include <random>
#include <string>

namespace mapgen {

// What editors that print doubles at full precision leave behind.
inline const char* const kNoise[] = {
    "0.30000000000000004", "1.9999999",           "2.5e-08",           "-1.0000000000000002",
    "6.123233995736766e-17", "-2.220446049250313e-16", "31.999999999999996", "0.7999999999999999",
    "4.37114e-08",         "89.99999999999999",   "1.2500000000000002", "-0.0000001",
    "127.99999999999997",  "-63.99999999999999",  "0.1000000000000001", "1.0000001",
};

class Writer {
public:
    // `noisyPercent` of the numbers are noise; the same seed gives the same text.
    Writer(int noisyPercent, unsigned seed) : noisy_(noisyPercent), random_(seed) {}

    // One entity with one to four brushes of six faces.
    std::string entity() {
        std::string text = "{\n\"classname\" \"" + std::string(pick(10) < 2 ? "light" : "func_wall") + "\"\n";
        text += "\"origin\" \"" + number(0) + " " + number(0) + " " + number(0) + "\"\n";
        text += "\"angle\" \"" + number(1) + "\"\n";
        const int brushes = 1 + static_cast<int>(pick(4));
        for (int b = 0; b < brushes; ++b) {
            text += "{\n";
            for (int face = 0; face < 6; ++face) text += this->face();
            text += "}\n";
        }
        return text + "}\n";
    }

private:
    unsigned pick(unsigned n) { return static_cast<unsigned>(random_() % n); }

    // An integer coordinate, a short decimal, or noise.
    std::string number(int kind) {
        if (static_cast<int>(pick(100)) < noisy_) return kNoise[pick(16)];
        const int value = static_cast<int>(pick(4096)) - 2048;
        if (kind == 0) return std::to_string(value);
        return std::to_string(value / 16) + "." + std::to_string(pick(100));
    }

    std::string face() {
        std::string text;
        for (int point = 0; point < 3; ++point) {
            text += "( " + number(0) + " " + number(0) + " " + number(0) + " ) ";
        }
        text += "base/wall_" + std::to_string(pick(40)) + " [ " + number(1) + " " + number(1) + " " +
                number(1) + " " + number(0) + " ] [ " + number(1) + " " + number(1) + " " + number(1) +
                " " + number(0) + " ] " + number(0) + " " + number(1) + " " + number(1) + "\n";
        return text;
    }

    int noisy_;
    std::mt19937 random_;
};

// About `bytes` of map text.
inline std::string make_text(size_t bytes, int noisyPercent, unsigned seed) {
    Writer writer(noisyPercent, seed);
    std::string text;
    while (text.size() < bytes) text += writer.entity();
    return text;
}

}  // namespace mapgen
