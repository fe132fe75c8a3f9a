#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/time_limits.h"

#include "foundation/fs/file_io.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/shell_quote.h"
#include "foundation/text/lines.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

using tidewall::host::current;
using tidewall::host::path;

namespace {

const char* const kSshOptions = "-o BatchMode=yes -o ConnectTimeout=10 -o StrictHostKeyChecking=accept-new";

// A host name for ssh: anything that could pass for an option or hold a blank
// is refused rather than quoted (ssh would read "-oProxyCommand=..." as an option).
bool usable_host(const std::string& host) {
    if (host.empty() || host[0] == '-') return false;
    for (char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' || c == ':'))
            return false;
    return true;
}

}  // namespace

int tsaf_utils::generate_ssh_keys(const std::string& private_key_path) {
    if (private_key_path.empty()) return -1;
    int rc = mkdir_r(dirname(private_key_path), 0700);
    if (rc != 0) return rc;
    std::string key = tidewall::shell_quote(private_key_path);
    if (is_file(private_key_path)) {
        // Peers may already trust this key: never replace it, only give it its public half again.
        auto r = current().run("ssh-keygen -y -f " + key, tidewall::time_limits::kDefaultS);
        if (r.status != 0 || trim(r.out).empty()) return r.status != 0 ? r.status : -1;
        return tidewall::file_io::write_atomic(path(private_key_path + ".pub"), trim(r.out) + "\n", 0644);
    }
    return current().run("ssh-keygen -q -t rsa -b 4096 -N '' -f " + key, tidewall::time_limits::kDefaultS).status;
}

int tsaf_utils::copy_ssh_keys(const std::string& public_key_path, const std::string& host,
                              const std::string& password) {
    if (!usable_host(host) || !is_file(public_key_path)) return -1;
    std::string target = "root@" + host;
    std::string tail =
        tidewall::shell_quote(public_key_path) + " -o ConnectTimeout=10 -o StrictHostKeyChecking=accept-new ";
    if (password.empty())
        return current()
            .run("ssh-copy-id -i " + tail + "-o BatchMode=yes " + target, tidewall::time_limits::kDefaultS)
            .status;
    // The password goes through a file only root can read, in the root-only
    // state directory, never through a command line that every user can see.
    std::string dir;
    if (int e = tidewall::locks::state_directory(dir); e != 0) return e;
    std::string tmpl = dir + "/tw-sshpass.XXXXXX";
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    std::string text = password + "\n";
    bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    int rc = -1;
    if (written) {
        std::string file = tmpl.substr(path("/").size() - 1);  // the system path of the mapped file
        rc = current()
                 .run("sshpass -f " + tidewall::shell_quote(file) + " ssh-copy-id -i " + tail + target,
                      tidewall::time_limits::kDefaultS)
                 .status;
    }
    ::unlink(tmpl.c_str());
    return rc;
}

int tsaf_utils::get_remote_dir_contents(const std::string& host, const std::string& dir,
                                        std::list<std::string>& names) {
    if (!usable_host(host) || dir.empty()) return -1;
    std::string remote = "ls -A -- " + tidewall::shell_quote(dir);
    auto r = current().run(std::string("ssh ") + kSshOptions + " root@" + host + " " + tidewall::shell_quote(remote),
                           tidewall::time_limits::kDefaultS);
    if (r.status != 0) return r.status;
    tidewall::text::append_lines(r.out, names);
    return 0;
}

int tsaf_utils::delete_remote_file(const std::string& host, const std::string& file) {
    if (!usable_host(host) || file.empty()) return -1;
    std::string remote = "rm -f -- " + tidewall::shell_quote(file);
    return current()
        .run(std::string("ssh ") + kSshOptions + " root@" + host + " " + tidewall::shell_quote(remote),
             tidewall::time_limits::kDefaultS)
        .status;
}
