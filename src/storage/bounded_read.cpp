#include "storage/bounded_read.h"

#include "foundation/host/host_backend.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tidewall::storage {

namespace {

constexpr int kReadTimeLimitS = 60;

struct request {
    long long offset;
    std::size_t at;
    std::size_t len;
};

struct answer {
    long long got;  // -1: failed with err
    int err;
};

bool send_all(int sock, const void* p, std::size_t n) {
    const char* c = static_cast<const char*>(p);
    while (n > 0) {
        ssize_t k = ::send(sock, c, n, MSG_NOSIGNAL);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        c += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

// Blocking receive of exactly n bytes; false at the end of the stream.
bool recv_all(int sock, void* p, std::size_t n) {
    char* c = static_cast<char*>(p);
    while (n > 0) {
        ssize_t k = ::recv(sock, c, n, 0);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        c += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

// A process that may outlive its caller keeps no descriptor but the ones it
// needs: an inherited lock would stay held, and an inherited pipe of the
// caller's output would keep its reader waiting. Standard input, output and
// error become /dev/null. Async-signal-safe.
void keep_only(int a, int b) {
    int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        for (int std = 0; std < 3; ++std)
            if (std != a && std != b) ::dup2(null, std);
        if (null > 2 && null != a && null != b) ::close(null);
    }
    int lo = a < b ? a : b, hi = a < b ? b : a;
    struct rlimit rl {};
    long top = ::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY && rl.rlim_cur < INT_MAX
                   ? static_cast<long>(rl.rlim_cur)
                   : 65536;
    const long ranges[3][2] = {{3, lo - 1}, {lo + 1, hi - 1}, {hi + 1, top - 1}};
    for (const auto& r : ranges) {
        long from = r[0] < 3 ? 3 : r[0];
        if (from > r[1]) continue;
        if (::syscall(SYS_close_range, from, r[1], 0) == 0) continue;
        for (long fd = from; fd <= r[1]; ++fd) ::close(static_cast<int>(fd));
    }
}

// The reading process: only async-signal-safe calls, as it is forked from a
// process that may have other threads.
[[noreturn]] void serve(int sock, int fd, void* buf, std::size_t bytes) {
    request r{};
    while (recv_all(sock, &r, sizeof r)) {
        answer a{0, 0};
        std::size_t at = r.at < bytes ? r.at : bytes;
        std::size_t len = r.len < bytes - at ? r.len : bytes - at;
        char* into = static_cast<char*>(buf) + at;
        ssize_t n;
        do {
            n = r.offset < 0 ? ::read(fd, into, len) : ::pread(fd, into, len, static_cast<off_t>(r.offset));
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            a.got = -1;
            a.err = errno;
        } else {
            a.got = n;
        }
        if (!send_all(sock, &a, sizeof a)) break;
    }
    ::_exit(0);
}

}  // namespace

int read_time_limit_s() {
    const std::string text = tidewall::host::env("TW_TIME_LIMIT_CAP_S");
    const char* env = text.c_str();
    if (*env) {
        char* end = nullptr;
        long v = std::strtol(env, &end, 10);
        if (*end == '\0' && v >= 1 && v < kReadTimeLimitS) return static_cast<int>(v);
    }
    return kReadTimeLimitS;
}

std::string read_timeout_text(int limit_s) { return "read did not complete within " + std::to_string(limit_s) + " s"; }

bounded_reader::bounded_reader(int fd, std::size_t bytes) : bytes_(bytes ? bytes : 1) {
    void* map = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) {
        error_ = errno;
        return;
    }
    buf_ = map;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        error_ = errno;
        return;
    }
    // Forked twice: the reading process's parent ends at once, so init reaps
    // it whenever its last read returns.
    pid_t middle = ::fork();
    if (middle < 0) {
        error_ = errno;
        ::close(pair[0]);
        ::close(pair[1]);
        return;
    }
    if (middle == 0) {
        ::close(pair[0]);
        pid_t reader = ::fork();
        if (reader == 0) {
            keep_only(pair[1], fd);
            serve(pair[1], fd, buf_, bytes_);
        }
        ::_exit(reader < 0 ? 1 : 0);
    }
    ::close(pair[1]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {}
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error_ = EAGAIN;
        ::close(pair[0]);
        return;
    }
    sock_ = pair[0];
}

bounded_reader::~bounded_reader() {
    // Closing the socket ends the reading process once it is not stuck.
    if (sock_ >= 0) ::close(sock_);
    // A stuck read still writes into the buffer when it returns: the mapping
    // is shared, and the reading process keeps its own until it ends.
    if (buf_) ::munmap(buf_, bytes_);
}

bounded_reader::outcome bounded_reader::read(long long offset, std::size_t at, std::size_t len, int limit_s,
                                             std::size_t& got, int& err) {
    got = 0;
    err = 0;
    if (sock_ < 0) {
        err = error_ ? error_ : EIO;
        return failed;
    }
    if (at > bytes_) at = bytes_;
    request r{offset, at, len < bytes_ - at ? len : bytes_ - at};
    if (!send_all(sock_, &r, sizeof r)) {
        err = EIO;
        return failed;
    }
    const auto deadline = tidewall::host::steady_now() + std::chrono::seconds(limit_s);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - tidewall::host::steady_now());
        if (left.count() <= 0) break;
        struct pollfd p {
            sock_, POLLIN, 0
        };
        int n = ::poll(&p, 1, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            err = errno;
            return failed;
        }
        if (n == 0) break;
        answer a{};
        if (!recv_all(sock_, &a, sizeof a)) {
            err = EIO;  // the reading process is gone
            ::close(sock_);
            sock_ = -1;
            return failed;
        }
        if (a.got < 0) {
            err = a.err;
            return failed;
        }
        got = static_cast<std::size_t>(a.got);
        return done;
    }
    // Given up: the reading process finishes its read alone and then ends.
    ::close(sock_);
    sock_ = -1;
    error_ = ETIMEDOUT;
    return timed_out;
}

void remove_in_background(const std::vector<std::string>& paths) {
    // Copied before the fork: the child may only make async-signal-safe calls.
    std::vector<const char*> names;
    for (const auto& p : paths) names.push_back(p.c_str());
    pid_t middle = ::fork();
    if (middle < 0) return;
    if (middle == 0) {
        if (::fork() == 0) {
            keep_only(-1, -1);
            for (const char* n : names)
                if (::unlink(n) != 0 && (errno == EISDIR || errno == EPERM)) ::rmdir(n);
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {}
}

}  // namespace tidewall::storage
