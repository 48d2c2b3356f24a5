// Threads that clean at once through the C++ header, each with its own
// options; run under ThreadSanitizer by tests/consumer/run.
#include <mapclean/mapclean.hpp>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

int main() {
    std::string text;
    for (int i = 0; i < 5000; ++i) {
        text += "( " + std::to_string(i) + ".30000000000000004 -1.9999999 64 ) tex [ 2.5e-08 1 0 0.5 ] 0 1 1\n";
    }
    const mapclean::options modes[] = {{}, {.precision = 2}, {.stable = true}, {.plain = true}};
    std::vector<std::string> alone;
    for (const auto& mode : modes) alone.push_back(mapclean::clean(text, mode));
    std::vector<std::string> together(8);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < together.size(); ++t) {
        threads.emplace_back([&, t] { together[t] = mapclean::clean(text, modes[t % 4]); });
    }
    for (std::thread& thread : threads) thread.join();
    int failed = 0;
    for (size_t t = 0; t < together.size(); ++t) failed += together[t] != alone[t % 4];
    std::printf("threads: %zu cleaned at once, %d differed\n", together.size(), failed);
    return failed == 0 ? 0 : 1;
}
