/* A program that uses the mapclean library as an editor or a script would,
 * built against the installed package (find_package, pkg-config) or the
 * source tree (add_subdirectory).
 *   clean_files PRECISION STABLE PLAIN ONLY FILE
 *       writes FILE cleaned with those options to stdout, the edit count
 *       to stderr; `mapclean -` must write the same bytes.
 *   clean_files --check
 *       checks the C interface's errors; exits 0 when all hold. */
#include <mapclean/mapclean.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

static int write_out(void *user, const char *bytes, size_t length) {
    return fwrite(bytes, 1, length, (FILE *)user) == length ? 0 : 1;
}

static int stop_at_once(void *user, const char *bytes, size_t length) {
    (void)bytes;
    *(size_t *)user += length;
    return 1;
}

static int failures = 0;

static void expect(int holds, const char *what) {
    if (!holds) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

static int check_errors(void) {
    const char text[] = "a 1.9999999\nb 0.30000000000000004\n";
    mapclean_options options = MAPCLEAN_OPTIONS_INIT;
    char out[8];
    size_t written = 0, received = 0;
    int64_t edits = -1;

    expect(mapclean_version_number() == MAPCLEAN_VERSION_NUMBER, "the library is the version compiled against");
    expect(strcmp(mapclean_version(), MAPCLEAN_VERSION_STRING) == 0, "the version text");
    expect(mapclean_clean_token("0.30000000000000004", 19, &options, NULL, 0, &written) == MAPCLEAN_EBUFS &&
               written == 3,
           "the size needed, asked with no buffer");
    expect(mapclean_clean_token("123.25", 6, &options, out, 5, &written) == MAPCLEAN_EBUFS && written == 6,
           "MAPCLEAN_EBUFS and the size needed");
    expect(mapclean_format_double(0.1 + 0.2, &options, out, sizeof out, &written) == MAPCLEAN_OK &&
               strcmp(out, "0.3") == 0 && written == 3,
           "0.1 + 0.2 written as 0.3");
    expect(mapclean_clean_text(text, sizeof text - 1, &options, stop_at_once, &received, &edits) ==
                   MAPCLEAN_EUSER && received > 0 && edits == -1,
           "a callback that stops the run gives MAPCLEAN_EUSER");
    options.version = MAPCLEAN_OPTIONS_VERSION + 1;
    expect(mapclean_clean_text(text, sizeof text - 1, &options, write_out, stdout, NULL) == MAPCLEAN_EINVAL,
           "options of another version give MAPCLEAN_EINVAL");
    mapclean_options_init(&options);
    options.only = MAPCLEAN_ONLY_KEYS << 1;
    expect(mapclean_clean_text(text, sizeof text - 1, &options, write_out, stdout, NULL) == MAPCLEAN_EINVAL,
           "bits that name no field give MAPCLEAN_EINVAL");
    expect(strlen(mapclean_strerror(MAPCLEAN_EUSER)) > 0, "every code has a text");
    return failures == 0 ? 0 : 1;
}

/* The whole file at `path`, in a block of its own; NULL on failure. */
static char *read_all(const char *path, size_t *size) {
    FILE *file = fopen(path, "rb");
    char *data = NULL;
    size_t capacity = 0;
    *size = 0;
    if (!file) return NULL;
    for (;;) {
        if (*size == capacity) {
            char *larger = realloc(data, capacity = capacity * 2 + 65536);
            if (!larger) break;
            data = larger;
        }
        const size_t got = fread(data + *size, 1, capacity - *size, file);
        *size += got;
        if (got == 0) break;
    }
    fclose(file);
    return data;
}

int main(int argc, char **argv) {
    mapclean_options options;
    char *text;
    size_t size = 0;
    int64_t edits = 0;
    int code;

    if (argc == 2 && strcmp(argv[1], "--check") == 0) return check_errors();
    if (argc != 6) {
        fprintf(stderr, "usage: clean_files PRECISION STABLE PLAIN ONLY FILE | clean_files --check\n");
        return 2;
    }
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    mapclean_options_init(&options);
    options.precision = atoi(argv[1]);
    options.stable = atoi(argv[2]);
    options.plain = atoi(argv[3]);
    options.only = (unsigned)strtoul(argv[4], NULL, 0);
    text = read_all(argv[5], &size);
    if (!text) {
        fprintf(stderr, "cannot read %s\n", argv[5]);
        return 2;
    }
    code = mapclean_clean_text(text, size, &options, write_out, stdout, &edits);
    free(text);
    if (code != MAPCLEAN_OK) {
        fprintf(stderr, "mapclean_clean_text: %s\n", mapclean_strerror(code));
        return 1;
    }
    fprintf(stderr, "%lld\n", (long long)edits);
    return fflush(stdout) == 0 ? 0 : 1;
}
