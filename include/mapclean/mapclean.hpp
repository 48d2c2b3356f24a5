// mapclean for C++: the C interface (mapclean.h) as std::string in and out,
// with errors as exceptions. Header-only; link the mapclean library.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "mapclean/mapclean.h"

namespace mapclean {

// How numbers are cleaned, as mapclean_options (automatic mode by default).
struct options {
    int precision = -1;  // < 0: automatic mode; >= 0: decimals to round every number to
    bool stable = false; // rewrite until nothing more would change
    bool plain = false;  // automatic mode writes exponent forms as plain decimals
    unsigned only = 0;   // 0, or MAPCLEAN_ONLY_* bits
};

// A return code of the C interface other than MAPCLEAN_OK (MAPCLEAN_ENOMEM
// is thrown as std::bad_alloc instead).
class error : public std::runtime_error {
public:
    explicit error(int code) : std::runtime_error(mapclean_strerror(code)), code_(code) {}
    int code() const noexcept { return code_; }

private:
    int code_;
};

namespace detail {

inline mapclean_options to_c(const options& o) {
    mapclean_options c = MAPCLEAN_OPTIONS_INIT;
    c.precision = o.precision;
    c.stable = o.stable ? 1 : 0;
    c.plain = o.plain ? 1 : 0;
    c.only = o.only;
    return c;
}

inline void check(int code) {
    if (code == MAPCLEAN_ENOMEM) throw std::bad_alloc();
    if (code != MAPCLEAN_OK) throw error(code);
}

// Calls `fill(out, capacity, &written)` with a small buffer, then again with
// one of the size it asked for.
template <typename Fill>
std::string sized(Fill fill) {
    char small[64];
    size_t written = 0;
    int code = fill(small, sizeof small, &written);
    if (code != MAPCLEAN_EBUFS) {
        check(code);
        return std::string(small, written);
    }
    std::string out(written, '\0');
    check(fill(out.data(), out.size(), &written));
    return out;
}

}  // namespace detail

// `text` cleaned as `mapclean -` cleans it; `*edits`, when given, receives
// the number of numbers changed.
inline std::string clean(std::string_view text, const options& o = {}, int64_t* edits = nullptr) {
    struct Sink {
        std::string out;
        bool outOfMemory = false;
    } sink;
    const auto append = [](void* user, const char* bytes, size_t length) -> int {
        auto& s = *static_cast<Sink*>(user);
        try {
            s.out.append(bytes, length);
            return 0;
        } catch (...) {
            s.outOfMemory = true;  // an exception must not cross the C interface
            return 1;
        }
    };
    const mapclean_options c = detail::to_c(o);
    const int code = mapclean_clean_text(text.data(), text.size(), &c, append, &sink, edits);
    if (sink.outOfMemory) throw std::bad_alloc();
    detail::check(code);
    return std::move(sink.out);
}

// One number token cleaned as mapclean_clean_token cleans it.
inline std::string clean_token(std::string_view token, const options& o = {}) {
    const mapclean_options c = detail::to_c(o);
    return detail::sized([&](char* out, size_t capacity, size_t* written) {
        return mapclean_clean_token(token.data(), token.size(), &c, out, capacity, written);
    });
}

// The shortest text of `value`, cleaned, as mapclean_format_double writes it.
inline std::string format(double value, const options& o = {}) {
    const mapclean_options c = detail::to_c(o);
    return detail::sized([&](char* out, size_t capacity, size_t* written) {
        return mapclean_format_double(value, &c, out, capacity, written);
    });
}

}  // namespace mapclean
