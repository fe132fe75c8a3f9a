#include "foundation/compat/tsaf_utils.h"

#include "foundation/fs/file_io.h"
#include "foundation/fs/file_kind.h"
#include "foundation/host/host_backend.h"
#include "foundation/text/lines.h"
#include "foundation/text/path_text.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using tidewall::host::path;

int tsaf_utils::read_file(const std::string& p, std::list<std::string>& lines) {
    std::string text;
    int rc = tidewall::file_io::read_all(path(p), text);
    if (rc != 0) return rc;
    tidewall::text::append_lines(text, lines);
    return 0;
}

int tsaf_utils::read(const std::string& p, std::string& content) {
    return tidewall::file_io::read_all(path(p), content);
}

int tsaf_utils::write(const std::string& p, const std::string& text) {
    return tidewall::file_io::write_atomic(path(p), text);
}

int tsaf_utils::copy_file(const std::string& from, const std::string& to) {
    std::string content;
    int rc = tidewall::file_io::read_all(path(from), content);
    if (rc != 0) return rc;
    struct stat st {};
    mode_t mode = ::stat(path(from).c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    return tidewall::file_io::write_atomic(path(to), content, mode);
}

bool tsaf_utils::is_file(const std::string& p) { return tidewall::file_io::is_regular_file(path(p)); }

bool tsaf_utils::is_dir(const std::string& p) { return tidewall::file_io::is_directory(path(p)); }

int tsaf_utils::mkdir_r(const std::string& p, unsigned mode) {
    if (p.empty()) return EINVAL;
    size_t pos = 0;
    while (true) {
        pos = p.find('/', pos + 1);
        std::string part = p.substr(0, pos);
        if (!part.empty() && part != "/") {
            std::string real = path(part);
            if (::mkdir(real.c_str(), mode) != 0) {
                if (errno != EEXIST) return errno;
                struct stat st {};
                if (::stat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ENOTDIR;
            }
        }
        if (pos == std::string::npos) break;
    }
    return 0;
}

std::string tsaf_utils::dirname(const std::string& p) {
    std::string s = tidewall::text::without_trailing_slashes(p);
    size_t slash = s.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return tidewall::text::without_trailing_slashes(s.substr(0, slash));
}

int tsaf_utils::readlink(const std::string& p, std::string& target) {
    char buf[4096];
    ssize_t n = ::readlink(path(p).c_str(), buf, sizeof buf - 1);
    if (n < 0) return errno;
    target.assign(buf, static_cast<size_t>(n));
    return 0;
}

int tsaf_utils::read_directory(const std::string& dir, std::list<std::string>& names) {
    std::vector<std::string> found;
    if (int rc = tidewall::file_io::list_dir(path(dir), found)) return rc;
    names.insert(names.end(), found.begin(), found.end());
    return 0;
}
