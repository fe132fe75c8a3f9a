#include "foundation/host/command_runner.h"
#include "foundation/log/log_level.h"

#include <tidewall/tw_debug.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tidewall::host {

namespace {

using clock_type = std::chrono::steady_clock;

struct pipe_pair {
    int fd[2] = {-1, -1};
    ~pipe_pair() {
        for (int f : fd)
            if (f >= 0) ::close(f);
    }
};

int decode_status(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Reads whatever is ready on fd into sink, keeping at most cap bytes; returns
// false at end of file or error. over is set once the stream passed the cap.
bool drain(int fd, std::string& sink, size_t cap, bool& over) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            size_t room = cap > sink.size() ? cap - sink.size() : 0;
            sink.append(buf, std::min(room, static_cast<size_t>(n)));
            if (static_cast<size_t>(n) > room) {
                over = true;
                return true;  // the rest is not read: the command is about to be killed
            }
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

}  // namespace

command_result run_shell_command(const std::string& cmd, int time_limit_s, size_t output_cap) {
    command_result result;
    pipe_pair out, err;
    if (::pipe2(out.fd, O_CLOEXEC) != 0 || ::pipe2(err.fd, O_CLOEXEC) != 0) {
        result.status = -1;
        result.err = std::string("pipe: ") + std::strerror(errno);
        return result;
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);
    // Descriptors the caller opened without close-on-exec must not leak either.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
    int rc = ::posix_spawn(&pid, "/bin/sh", &actions, &attr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(out.fd[1]);
    out.fd[1] = -1;
    ::close(err.fd[1]);
    err.fd[1] = -1;
    if (rc != 0) {
        result.status = -1;
        result.err = std::string("spawn /bin/sh: ") + std::strerror(rc);
        return result;
    }
    ::fcntl(out.fd[0], F_SETFL, O_NONBLOCK);
    ::fcntl(err.fd[0], F_SETFL, O_NONBLOCK);

    const auto deadline = clock_type::now() + std::chrono::seconds(time_limit_s > 0 ? time_limit_s : 0);
    bool out_open = true, err_open = true, exited = false, over_cap = false;
    int status = 0;
    for (;;) {
        if (!exited) {
            pid_t w = ::waitpid(pid, &status, WNOHANG);
            if (w == pid) exited = true;
        }
        if (exited) {
            // The shell is gone: what it wrote is already in the pipes. Descendants
            // that keep the pipes open (daemons) are not waited for.
            if (out_open) drain(out.fd[0], result.out, output_cap, over_cap);
            if (err_open) drain(err.fd[0], result.err, output_cap, over_cap);
            break;
        }
        int wait_ms = 100;
        if (time_limit_s > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()).count();
            if (left <= 0) {
                ::kill(-pid, SIGKILL);
                while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
                if (out_open) drain(out.fd[0], result.out, output_cap, over_cap);
                if (err_open) drain(err.fd[0], result.err, output_cap, over_cap);
                result.timed_out = true;
                result.status = -1;
                if (!result.err.empty() && result.err.back() != '\n') result.err += '\n';
                result.err += "command killed after " + std::to_string(time_limit_s) + " s time limit";
                return result;
            }
            if (left < wait_ms) wait_ms = static_cast<int>(left);
        }
        struct pollfd fds[2];
        nfds_t n = 0;
        if (out_open) fds[n++] = {out.fd[0], POLLIN, 0};
        if (err_open) fds[n++] = {err.fd[0], POLLIN, 0};
        if (n == 0) {
            // Both pipes closed: only the exit is left to wait for.
            ::usleep(static_cast<useconds_t>(std::min(wait_ms, 20)) * 1000);
            continue;
        }
        int p = ::poll(fds, n, wait_ms);
        if (p < 0 && errno != EINTR) break;
        for (nfds_t i = 0; i < n; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            bool is_out = fds[i].fd == out.fd[0];
            bool open = drain(fds[i].fd, is_out ? result.out : result.err, output_cap, over_cap);
            if (!open) (is_out ? out_open : err_open) = false;
        }
        if (over_cap) {
            // A tool or peer printing without end must not exhaust the node's memory.
            ::kill(-pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
            tw_debug().logMessage("tidewall::host::run_shell_command", tidewall::log_level::failure,
                                  "Command [%s] killed: its output passed the %zu byte cap", cmd.c_str(), output_cap);
            result.status = -1;
            if (!result.err.empty() && result.err.back() != '\n') result.err += '\n';
            result.err += "command killed: output passed the " + std::to_string(output_cap) + " byte cap";
            return result;
        }
    }
    result.status = decode_status(status);
    if (over_cap) {
        // It ended on its own while its last output passed the cap: still not whole.
        tw_debug().logMessage("tidewall::host::run_shell_command", tidewall::log_level::failure,
                              "Command [%s] failed: its output passed the %zu byte cap", cmd.c_str(), output_cap);
        result.status = -1;
        if (!result.err.empty() && result.err.back() != '\n') result.err += '\n';
        result.err += "command output passed the " + std::to_string(output_cap) + " byte cap";
    }
    return result;
}

}  // namespace tidewall::host
