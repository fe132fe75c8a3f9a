#include "foundation/fs/file_kind.h"

#include <sys/stat.h>

namespace tidewall::file_io {

namespace {

bool kind_is(const std::string& path, links how, mode_t kind) {
    struct stat st {};
    int rc = how == links::follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    return rc == 0 && (st.st_mode & S_IFMT) == kind;
}

} // namespace

bool is_directory(const std::string& path, links how) { return kind_is(path, how, S_IFDIR); }

bool is_regular_file(const std::string& path, links how) { return kind_is(path, how, S_IFREG); }

} // namespace tidewall::file_io
