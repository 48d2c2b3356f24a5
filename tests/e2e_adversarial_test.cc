// Hostile and odd inputs, end to end: whatever the bytes and the names, the
// program ends normally and the file comes out as the model computes it.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "model.h"
#include "program_run.h"

namespace {

std::string random_bytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xff);
    return bytes;
}

std::string repeated(const std::string& unit, size_t size) {
    std::string text;
    text.reserve(size + unit.size());
    while (text.size() < size) text += unit;
    return text;
}

struct Case {
    const char* what;
    std::string name;
    std::function<std::string()> content;
    bool posixOnly = false;  // names Windows does not allow or spells otherwise
};

TEST(Adversarial, FilesComeOutAsTheModelSays) {
    const Case cases[] = {
        {"random binary", "random.map", [] { return random_bytes(1 << 20, 1); }},
        {"random binary without NUL", "random2.map",
         [] {
             std::string bytes = random_bytes(1 << 20, 2);
             for (char& c : bytes) c = c == '\0' ? '9' : c;
             return bytes;
         }},
        {"no newline", "last.map", [] { return std::string("x 1.9999999"); }},
        {"one line of 50 MB", "line.map", [] { return repeated("( 0.30000000000000004 -64 1e-9 ) ", 50 << 20); }},
        {"one 10 MB token of digits", "digits.map", [] { return "x " + repeated("1234567890", 10 << 20) + "\n"; }},
        {"a million tiny tokens", "tiny.map", [] { return repeated("0e5 1 ", 6 << 20); }},
        {"nothing but signs and points", "signs.map", [] { return repeated("-.+.-", 1 << 20); }},
        {"non-UTF-8 name and bytes", "caf\xe9 \xff\xfe.map", [] { return std::string("\xe9 1.0000001 \xff\n"); }, true},
        {"spaces and quotes in the name", "it's a \"map\".map", [] { return std::string("0.2999999"); }, true},
        {"spaces in the name", "a b.map", [] { return std::string("0.2999999"); }},
        {"a leading '-' in the name", "-p.map", [] { return std::string("-1.9999"); }},
    };
    TempDir dir;
    for (const Case& c : cases) {
        if (c.posixOnly && target_is_windows()) continue;
        for (const int32_t precision : {-1, 3}) {
            const std::string content = c.content();
            write_file(dir.file(c.name), content);
            const ModelScan expected = model_scan(content, precision);
            const ProgramRun run = run_mapclean({"-s", "-p", std::to_string(precision), dir.native(c.name)},
                                                {.timeoutMs = 300000});
            EXPECT_EQ(run.status, 0) << c.what;
            EXPECT_EQ(run.err, "") << c.what;
            EXPECT_NE(run.out.find("  Edits: " + std::to_string(expected.edits) + "  "), std::string::npos)
                << c.what << ": " << run.out.substr(0, 200);
            EXPECT_TRUE(read_file(dir.file(c.name)) == expected.output) << c.what << " at " << precision;
        }
    }
}

}  // namespace
