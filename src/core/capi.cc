// The C interface of the library (include/mapclean/mapclean.h) over the
// core. Nothing is thrown across it: every exception ends in a return code.
#include "mapclean/mapclean.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "core/map_fields.h"
#include "core/scan.h"
#include "core/token_scan.h"

static_assert(MAPCLEAN_ONLY_PLANES == kPlanes && MAPCLEAN_ONLY_OFFSETS == kOffsets &&
              MAPCLEAN_ONLY_ROTATION == kRotation && MAPCLEAN_ONLY_SCALES == kScales &&
              MAPCLEAN_ONLY_AXES == kAxes && MAPCLEAN_ONLY_MATRIX == kMatrix && MAPCLEAN_ONLY_FLAGS == kFlags &&
              MAPCLEAN_ONLY_TEXTURE == kTexture && MAPCLEAN_ONLY_PATCHES == kPatches && MAPCLEAN_ONLY_KEYS == kKeys,
              "the C API's field bits are the core's");

namespace {

constexpr unsigned kAllFields = kPlanes | kTexture | kPatches | kKeys;

// The core's rules for `options` (the defaults for NULL); false for options
// of another version or with bits that name no field.
bool rules_of(const mapclean_options* options, CleanRules& rules) {
    if (!options) return true;
    if (options->version != MAPCLEAN_OPTIONS_VERSION || (options->only & ~kAllFields) != 0) return false;
    rules = CleanRules{options->precision, options->stable != 0, options->plain != 0, options->only};
    return true;
}

// Hands a text's new text to the caller's callback as the scan makes it,
// until the callback asks to stop; from then on nothing more is handed on
// (the scan runs to its end without it, so no exception is needed).
class CallbackRebuilder final : public TextRebuilder {
public:
    CallbackRebuilder(std::string_view text, mapclean_write_fn write, void* user)
        : TextRebuilder(text), write_(write), user_(user) {}
    // Hands `piece` on; false once the callback asked to stop.
    bool hand_on(std::string_view piece) {
        if (!stopped_ && write_ && !piece.empty()) stopped_ = write_(user_, piece.data(), piece.size()) != 0;
        return !stopped_;
    }
    bool stopped() const { return stopped_; }

private:
    bool wants_lines() const override { return false; }
    void put(std::string_view piece) override { hand_on(piece); }

    const mapclean_write_fn write_;
    void* const user_;
    bool stopped_ = false;
};

// Runs `work` and gives its result, or MAPCLEAN_ENOMEM when it ran out of
// memory: the core throws nothing but std::bad_alloc. (Built without
// exceptions, as for WebAssembly, a failed allocation ends the program.)
template <typename Work>
int guarded(Work work) {
#if defined(__cpp_exceptions)
    try {
        return work();
    } catch (...) {
        return MAPCLEAN_ENOMEM;
    }
#else
    return work();
#endif
}

// Copies `text` out as the API promises: all of it with a NUL after it when
// there is room, or MAPCLEAN_EBUFS and nothing claimed.
int copy_out(std::string_view text, char* out, size_t capacity, size_t* written) {
    *written = text.size();
    if (capacity < text.size() || (text.size() > 0 && !out)) return MAPCLEAN_EBUFS;
    if (!text.empty()) std::memcpy(out, text.data(), text.size());
    if (capacity > text.size()) out[text.size()] = '\0';
    return MAPCLEAN_OK;
}

// mapclean_clean_token once the token is known to be a string.
int clean_token(std::string_view token, const mapclean_options* options, char* out, size_t capacity,
                size_t* written) {
    CleanRules rules;
    if (!written || !rules_of(options, rules) || token.empty() || !is_number_start(token, 0) ||
        scan_number_token(token, 0).length != token.size()) {
        return MAPCLEAN_EINVAL;
    }
    int64_t edits = 0;
    return copy_out(clean_text(token, rules, nullptr, edits), out, capacity, written);
}

// The longest text a pointer difference can span: a longer length names no
// object, and a view of it would be undefined behaviour.
constexpr size_t kMaxLength = static_cast<size_t>(PTRDIFF_MAX);

}  // namespace

extern "C" {

void mapclean_options_init(mapclean_options* options) { *options = mapclean_options MAPCLEAN_OPTIONS_INIT; }

int mapclean_clean_text(const char* text, size_t length, const mapclean_options* options, mapclean_write_fn write,
                        void* user, int64_t* edits) {
    CleanRules rules;
    if ((!text && length > 0) || length > kMaxLength || !rules_of(options, rules)) return MAPCLEAN_EINVAL;
    const std::string_view input(text ? text : "", length);
    return guarded([&] {
        int64_t count = 0;
        CallbackRebuilder rebuilt(input, write, user);
        if (rules.stable) {
            rebuilt.hand_on(clean_text(input, rules, nullptr, count));
        } else {
            count = scan_text(input, rules, rebuilt);
            rebuilt.finish();
        }
        if (rebuilt.stopped()) return MAPCLEAN_EUSER;
        if (edits) *edits = count;
        return MAPCLEAN_OK;
    });
}

int mapclean_clean_token(const char* token, size_t length, const mapclean_options* options, char* out,
                         size_t capacity, size_t* written) {
    if (!token || length > kMaxLength) return MAPCLEAN_EINVAL;
    return guarded([&] { return clean_token(std::string_view(token, length), options, out, capacity, written); });
}

int mapclean_format_double(double value, const mapclean_options* options, char* out, size_t capacity,
                           size_t* written) {
    if (!std::isfinite(value)) return MAPCLEAN_EINVAL;
    char shortest[64];  // the longest shortest form of a double is 24 bytes
    const std::to_chars_result made = std::to_chars(shortest, shortest + sizeof shortest, value);
    if (made.ec != std::errc()) return MAPCLEAN_EINVAL;
    const std::string_view text(shortest, static_cast<size_t>(made.ptr - shortest));
    return guarded([&] { return clean_token(text, options, out, capacity, written); });
}

const char* mapclean_version(void) { return MAPCLEAN_VERSION_STRING; }

int mapclean_version_number(void) { return MAPCLEAN_VERSION_NUMBER; }

const char* mapclean_strerror(int code) {
    switch (code) {
    case MAPCLEAN_OK: return "no error";
    // A zeroed or hand-filled options struct is the usual cause: name it.
    case MAPCLEAN_EINVAL:
        return "invalid argument, or options whose version is not MAPCLEAN_OPTIONS_VERSION "
               "(start from MAPCLEAN_OPTIONS_INIT)";
    case MAPCLEAN_ENOMEM: return "out of memory";
    case MAPCLEAN_EBUFS: return "output buffer too small";
    case MAPCLEAN_EUSER: return "stopped by the write callback";
    default: return "unknown error";
    }
}

}  // extern "C"
