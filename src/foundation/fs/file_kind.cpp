#include "foundation/fs/file_kind.h"

#include "foundation/fs/file_io.h"

#include <sys/stat.h>

namespace tidewall::file_io {

namespace {

bool kind_is(const std::string& path, links how, mode_t kind) {
    struct stat st {};
    // Through status_of, so that a test can fail the look.
    return status_of(path, st, how == links::follow) == 0 && (st.st_mode & S_IFMT) == kind;
}

}  // namespace

bool is_directory(const std::string& path, links how) { return kind_is(path, how, S_IFDIR); }

bool is_regular_file(const std::string& path, links how) { return kind_is(path, how, S_IFREG); }

}  // namespace tidewall::file_io
