// ryx-libgen: writes a Zotero library (classic schema) for trying the program out
// (--demo) or for measuring it (--items/--tags/--collections).
#include <glib.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "libgen.h"
#include "libgen_modern.h"

namespace {

void usage() {
    fprintf(
        stderr,
        "usage: ryx-libgen [--modern fresh|upgraded] --demo DIR\n"
        "       ryx-libgen [--modern fresh|upgraded] [--items N] [--tags N] [--collections N] [--seed N]\n"
        "                  [--now EPOCH] DIR\n"
        "Writes DIR/zotero.sqlite and the attachment files under DIR/storage/: a classic\n"
        "library, or with --modern one of a current version (WAL mode), numbered as a fresh\n"
        "install or as one upgraded from a classic library.\n");
}

bool parse_number(const char* text, long min, long* out) {
    char* end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min) return false;
    *out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool demo = false;
    std::optional<libgen::Numbering> modern;
    libgen::SyntheticOptions options;
    std::time_t now = std::time(nullptr);
    const char* dir = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        long v = 0;
        if (strcmp(a, "--demo") == 0) {
            demo = true;
        } else if (strcmp(a, "--modern") == 0 && i + 1 < argc) {
            const char* mode = argv[++i];
            if (strcmp(mode, "fresh") == 0) {
                modern = libgen::Numbering::fresh;
            } else if (strcmp(mode, "upgraded") == 0) {
                modern = libgen::Numbering::upgraded;
            } else {
                fprintf(stderr, "ryx-libgen: --modern takes fresh or upgraded, not %s\n", mode);
                return 2;
            }
        } else if ((strcmp(a, "--items") == 0 || strcmp(a, "--tags") == 0 ||
                    strcmp(a, "--collections") == 0 || strcmp(a, "--seed") == 0 || strcmp(a, "--now") == 0) &&
                   i + 1 < argc) {
            // Counts stay within what an int and the disk can take; --now is any time.
            long max = strcmp(a, "--now") == 0    ? LONG_MAX
                       : strcmp(a, "--seed") == 0 ? 4294967295L
                                                  : 10000000L;
            if (!parse_number(argv[++i], 0, &v) || v > max) {
                fprintf(stderr, "ryx-libgen: bad number for %s: %s\n", a, argv[i]);
                return 2;
            }
            if (strcmp(a, "--items") == 0) options.items = int(v);
            if (strcmp(a, "--tags") == 0) options.tags = int(v);
            if (strcmp(a, "--collections") == 0) options.collections = int(v);
            if (strcmp(a, "--seed") == 0) options.seed = std::uint32_t(v);
            if (strcmp(a, "--now") == 0) now = std::time_t(v);
        } else if (a[0] != '-' && dir == nullptr) {
            dir = a;
        } else {
            usage();
            return 2;
        }
    }
    if (dir == nullptr) {
        usage();
        return 2;
    }
    // Linked attachments are stored with absolute paths, so the library's own
    // directory must be one.
    gchar* absolute = g_canonicalize_filename(dir, nullptr);
    std::string library_dir = absolute;
    g_free(absolute);
    dir = library_dir.c_str();
    try {
        std::unique_ptr<libgen::LibraryBuilder> owned;
        if (modern)
            owned = std::make_unique<libgen::ModernLibraryBuilder>(
                dir, libgen::ModernOptions{.numbering = *modern, .seed = options.seed, .now = now});
        else
            owned = std::make_unique<libgen::ClassicLibraryBuilder>(dir, options.seed, now);
        libgen::LibraryBuilder& builder = *owned;
        if (demo) {
            libgen::DemoSummary s = libgen::write_demo_library(builder, now);
            builder.finish();
            printf("%s: %d items, %d notes, %d attachments, %d collections, %d tags\n",
                   builder.database_path().c_str(), s.regular_items, s.notes, s.attachments, s.collections,
                   s.tags);
        } else {
            libgen::write_synthetic_library(builder, options, now);
            builder.finish();
            printf("%s: %d items, %d tags, %d collections\n", builder.database_path().c_str(), options.items,
                   options.tags, options.collections);
        }
    } catch (const std::exception& e) {
        fprintf(stderr, "ryx-libgen: %s\n", e.what());
        return 1;
    }
    return 0;
}
