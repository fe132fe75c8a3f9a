#include "tuning/scratch_files.h"

#include "foundation/fs/file_io.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/system_paths.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tidewall::tuning {

namespace {

const char* const kStateDir = tidewall::host::system_paths::state_dir;

int write_fully(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace

std::string private_copy_path(const std::string& name) { return std::string(kStateDir) + "/" + name; }

int keep_private_copy(const std::string& name, const std::string& text) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return EINVAL;
    std::string dir;
    if (int e = locks::state_directory(dir); e != 0) return e;
    std::string target = dir + "/" + name;
    std::string temp = target + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // O_EXCL, 0600
    if (fd < 0) return errno;
    int rc = locks::safe_private_file(fd) ? 0 : EPERM;
    if (rc == 0) rc = write_fully(fd, text);
    if (::close(fd) != 0 && rc == 0) rc = errno;
    if (rc == 0) rc = file_io::rename_path(temp, target);
    if (rc != 0) file_io::remove_file(temp);
    return rc;
}

}  // namespace tidewall::tuning
