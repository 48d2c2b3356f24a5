/* mapclean: repairs the floating-point noise in the numbers of ".map" text
 * (0.30000000000000004 -> 0.3, 1.9999999 -> 2, 2.5e-08 -> 0), or rounds
 * every number to N decimals, keeping every other byte as it is: the
 * library under the mapclean program, for the programs that write maps.
 *
 * C99, no global state, no I/O. Every function may be called from many
 * threads at once. No function keeps a pointer it was given after it
 * returns. Errors are negative return codes; nothing is ever thrown.
 */
#ifndef MAPCLEAN_H
#define MAPCLEAN_H

#include <stddef.h>
#include <stdint.h>

#define MAPCLEAN_VERSION_MAJOR 0
#define MAPCLEAN_VERSION_MINOR 2
#define MAPCLEAN_VERSION_PATCH 0
#define MAPCLEAN_VERSION_STRING "0.2.0"
/* major * 10000 + minor * 100 + patch */
#define MAPCLEAN_VERSION_NUMBER \
    (MAPCLEAN_VERSION_MAJOR * 10000 + MAPCLEAN_VERSION_MINOR * 100 + MAPCLEAN_VERSION_PATCH)

#if defined(_WIN32) && defined(MAPCLEAN_SHARED)
#  ifdef MAPCLEAN_BUILDING
#    define MAPCLEAN_API __declspec(dllexport)
#  else
#    define MAPCLEAN_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define MAPCLEAN_API __attribute__((visibility("default")))
#else
#  define MAPCLEAN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Return codes: MAPCLEAN_OK, or one of the negative errors. */
#define MAPCLEAN_OK 0
#define MAPCLEAN_EINVAL (-1) /* a bad argument, or an options struct of another version */
#define MAPCLEAN_ENOMEM (-2) /* memory ran out; nothing was claimed done */
#define MAPCLEAN_EBUFS (-3)  /* `out` is too small: `*written` says how many bytes are needed */
#define MAPCLEAN_EUSER (-4)  /* the write callback returned nonzero, which stopped the run */

/* The fields of Quake-family map text that `only` can name, as the
 * program's "-only" does. A number of a line that fits no map shape is in
 * no field. */
#define MAPCLEAN_ONLY_PLANES 0x001u   /* the points of a brush face */
#define MAPCLEAN_ONLY_OFFSETS 0x002u  /* a face's two texture shifts (Valve 220: the last number in each [ ]) */
#define MAPCLEAN_ONLY_ROTATION 0x004u /* a face's texture rotation */
#define MAPCLEAN_ONLY_SCALES 0x008u   /* a face's two texture scales */
#define MAPCLEAN_ONLY_AXES 0x010u     /* the first three numbers in each Valve 220 [ ] */
#define MAPCLEAN_ONLY_MATRIX 0x020u   /* a brush-primitive or brushDef3 texture matrix */
#define MAPCLEAN_ONLY_FLAGS 0x040u    /* the content, surface and value integers that end a face */
#define MAPCLEAN_ONLY_TEXTURE 0x07eu  /* all of a face's texture values: the six above */
#define MAPCLEAN_ONLY_PATCHES 0x080u  /* patchDef2/patchDef3 control points and size lines */
#define MAPCLEAN_ONLY_KEYS 0x100u     /* an entity key's value made only of numbers */

#define MAPCLEAN_OPTIONS_VERSION 1

/* How numbers are cleaned: the program's -precision, -stable, -plain and
 * -only. Always start from MAPCLEAN_OPTIONS_INIT or mapclean_options_init(),
 * never from a zeroed struct: its version 0 makes every call return
 * MAPCLEAN_EINVAL, and fields added by later versions get their defaults
 * only so. */
typedef struct mapclean_options {
    unsigned version; /* MAPCLEAN_OPTIONS_VERSION */
    int precision;    /* < 0: automatic mode; >= 0: decimals to round every number to */
    int stable;       /* nonzero: rewrite until nothing more would change */
    int plain;        /* nonzero: automatic mode writes exponent forms as plain decimals */
    unsigned only;    /* 0, or MAPCLEAN_ONLY_* bits: only the numbers of these fields change */
} mapclean_options;

#define MAPCLEAN_OPTIONS_INIT { MAPCLEAN_OPTIONS_VERSION, -1, 0, 0, 0 }

/* Sets `*options` to the defaults (automatic mode, as MAPCLEAN_OPTIONS_INIT).
 * `options` must not be NULL. */
MAPCLEAN_API void mapclean_options_init(mapclean_options *options);

/* Receives cleaned bytes: `length` bytes at `bytes` (not NUL-terminated; a
 * NUL byte may be among them), valid only during the call. Returns 0 to go
 * on, nonzero to stop the run. */
typedef int (*mapclean_write_fn)(void *user, const char *bytes, size_t length);

/* Cleans the `length` bytes at `text` (`text` may be NULL when `length` is
 * 0; a `length` above PTRDIFF_MAX is MAPCLEAN_EINVAL, since no object can be
 * that long) and hands the result to `write` in pieces, in order, with `user`:
 * exactly the bytes `mapclean -` writes for the same options, the bytes
 * from the first NUL on copied through unchanged. `write` may be NULL to
 * only count. `options` NULL means the defaults. `*edits`, when `edits` is
 * not NULL, receives the number of numbers changed, as the program's report
 * line counts them (set only on MAPCLEAN_OK).
 * Returns MAPCLEAN_OK; MAPCLEAN_EINVAL for a bad argument, options of
 * another version or `only` bits that name no field; MAPCLEAN_ENOMEM;
 * MAPCLEAN_EUSER when `write` returned nonzero (what it received so far
 * stands; nothing more is handed on). `write` may itself call any function
 * of this interface: there is no shared state to disturb.
 * Built for WebAssembly (the page, the npm package) the library has no C++
 * exceptions: memory running out there traps instead of returning
 * MAPCLEAN_ENOMEM, and the module must be instantiated again. */
MAPCLEAN_API int mapclean_clean_text(const char *text, size_t length, const mapclean_options *options,
                                     mapclean_write_fn write, void *user, int64_t *edits);

/* Cleans one number token: the `length` bytes at `token` (at most
 * PTRDIFF_MAX, else MAPCLEAN_EINVAL) must be exactly one number as the
 * program reads numbers (an optional sign, digits with an optional point
 * and exponent, or a "0x" form), else MAPCLEAN_EINVAL. The
 * result is what the program writes for a text made of that token alone (a
 * lone token lies in no map field: with `only` set it comes back as it is).
 * On MAPCLEAN_OK, `*written` bytes are in `out`, followed by a NUL when
 * `capacity` leaves room for it. When `capacity` is too small, returns
 * MAPCLEAN_EBUFS with the number of bytes needed in `*written` and claims
 * nothing written (pass `out` NULL and `capacity` 0 to ask the size).
 * `written` must not be NULL. */
MAPCLEAN_API int mapclean_clean_token(const char *token, size_t length, const mapclean_options *options, char *out,
                                      size_t capacity, size_t *written);

/* For programs that write maps: the shortest text that reads back as
 * `value` (what C++'s std::to_chars(value) writes: 0.30000000000000004,
 * 1e-07), cleaned as mapclean_clean_token cleans it (0.3, 0). Out, capacity,
 * written and the results as there; MAPCLEAN_EINVAL for an infinity or a
 * NaN. The text is at most 24 bytes in automatic mode, but up to 310 with
 * `plain` (-1.7976931348623157e308 written out) and 311 at a precision of
 * 308 (-2.2250738585072014e-308: "-0." and 308 decimals): a buffer of
 * MAPCLEAN_FORMAT_DOUBLE_BOUND bytes holds every text and its NUL. */
#define MAPCLEAN_FORMAT_DOUBLE_BOUND 312

MAPCLEAN_API int mapclean_format_double(double value, const mapclean_options *options, char *out, size_t capacity,
                                        size_t *written);

/* The library's version, "MAJOR.MINOR.PATCH", as it was built (may differ
 * from the MAPCLEAN_VERSION_STRING a program was compiled with). */
MAPCLEAN_API const char *mapclean_version(void);

/* The same as MAJOR * 10000 + MINOR * 100 + PATCH. */
MAPCLEAN_API int mapclean_version_number(void);

/* A short English text for a return code; never NULL. */
MAPCLEAN_API const char *mapclean_strerror(int code);

#ifdef __cplusplus
}
#endif

#endif /* MAPCLEAN_H */
