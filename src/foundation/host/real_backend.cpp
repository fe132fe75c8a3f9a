#include "foundation/host/real_backend.h"

#include "foundation/host/command_deadline.h"
#include "foundation/host/command_runner.h"
#include "foundation/host/crash_point.h"
#include "foundation/host/system_paths.h"
#include "foundation/log/log_file.h"
#include "foundation/registry/registry_store.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ifaddrs.h>
#include <netdb.h>
#include <random>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace tidewall::host {

namespace {

// TW_TIME_LIMIT_CAP_S, a test aid: when it holds a whole number of seconds
// (1-86400), no command may run longer than that, so an integration test can
// prove a hung tool is killed without waiting out the real limits. Unset or
// malformed, the callers' limits hold as given.
int time_limit_cap_s() {
    const std::string text = env("TW_TIME_LIMIT_CAP_S");
    const char* env = text.c_str();
    if (!*env) return 0;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(env, &end, 10);
    if (*end != '\0' || errno != 0 || v < 1 || v > 86400) return 0;
    return static_cast<int>(v);
}

// TW_SLEEP_CAP_MS, a test aid: when it holds a whole number of milliseconds
// (0-86400000), no sleep of this backend lasts longer, so a test that runs an
// operation many times need not wait out its settle times. Unset or
// malformed, every sleep lasts as asked.
long sleep_cap_ms() {
    const std::string text = env("TW_SLEEP_CAP_MS");
    const char* env = text.c_str();
    if (*env < '0' || *env > '9') return -1;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(env, &end, 10);
    if (*end != '\0' || errno != 0 || v < 0 || v > 86400000) return -1;
    return v;
}

}  // namespace

command_result real_backend::run(const std::string& cmd, int time_limit_s) {
    const int cap = time_limit_cap_s();
    if (cap > 0 && (time_limit_s <= 0 || time_limit_s > cap)) time_limit_s = cap;
    int limit = time_limit_within_deadline(time_limit_s);
    if (limit < 0) {
        command_result late;
        late.status = -1;
        late.timed_out = true;
        late.err = "not started: the caller's deadline has passed";
        return late;
    }
    crash_point("command", cmd.c_str());
    return run_shell_command(cmd, limit);
}

int real_backend::get_xattr(const std::string& path, const std::string& name, std::string& value) {
    std::string buf(256, '\0');
    for (;;) {
        ssize_t n = ::getxattr(path.c_str(), name.c_str(), buf.data(), buf.size());
        if (n >= 0) {
            value.assign(buf.data(), static_cast<size_t>(n));
            return 0;
        }
        if (errno != ERANGE) return errno;
        ssize_t need = ::getxattr(path.c_str(), name.c_str(), nullptr, 0);
        if (need < 0) return errno;
        buf.resize(static_cast<size_t>(need) + 1);
    }
}

int real_backend::set_xattr(const std::string& path, const std::string& name, const std::string& value) {
    crash_point("xattr", (path + " " + name).c_str());
    return ::setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) == 0 ? 0 : errno;
}

int real_backend::remove_xattr(const std::string& path, const std::string& name) {
    return ::removexattr(path.c_str(), name.c_str()) == 0 ? 0 : errno;
}

int real_backend::fs_usage_of(const std::string& path, fs_usage& usage) {
    struct statvfs st {};
    if (::statvfs(path.c_str(), &st) != 0) return errno;
    usage.total_bytes = static_cast<unsigned long long>(st.f_blocks) * st.f_frsize;
    usage.free_bytes = static_cast<unsigned long long>(st.f_bavail) * st.f_frsize;
    return 0;
}

bool real_backend::reg_get(const std::string& section, const std::string& key, std::string& value) {
    return registry::machine_store().get(section, key, value);
}

bool real_backend::reg_set(const std::string& section, const std::string& key, const std::string& value) {
    return registry::machine_store().set(section, key, value);
}

std::time_t real_backend::now() { return std::time(nullptr); }

void real_backend::sleep_ms(unsigned milliseconds) {
    const long cap = sleep_cap_ms();
    if (cap >= 0 && milliseconds > static_cast<unsigned long>(cap)) milliseconds = static_cast<unsigned>(cap);
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int real_backend::host_name(std::string& name) {
    char buf[4096];
    if (::gethostname(buf, sizeof buf) != 0) return errno;
    buf[sizeof buf - 1] = '\0';
    name = buf;
    return 0;
}

int real_backend::resolve(const std::string& name, std::string& address) {
    struct addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* res = nullptr;
    int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &res);
    if (rc != 0 || !res) return rc != 0 ? rc : EAI_NONAME;
    char text[INET6_ADDRSTRLEN] = {0};
    const void* addr = res->ai_family == AF_INET
                           ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr)
                           : static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(res->ai_addr)->sin6_addr);
    bool ok = ::inet_ntop(res->ai_family, addr, text, sizeof text) != nullptr;
    ::freeaddrinfo(res);
    if (!ok) return EAI_FAIL;
    address = text;
    return 0;
}

int real_backend::local_addresses(std::vector<std::string>& addresses) {
    struct ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return errno;
    for (struct ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr) continue;
        char text[INET6_ADDRSTRLEN] = {0};
        const void* addr = nullptr;
        if (i->ifa_addr->sa_family == AF_INET)
            addr = &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr;
        else if (i->ifa_addr->sa_family == AF_INET6)
            addr = &reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr;
        if (addr && ::inet_ntop(i->ifa_addr->sa_family, addr, text, sizeof text)) addresses.push_back(text);
    }
    ::freeifaddrs(list);
    return 0;
}

int real_backend::name_of(const std::string& address, std::string& name) {
    struct sockaddr_storage ss {};
    socklen_t len = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&ss);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&ss);
    if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        len = sizeof *v4;
    } else if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        len = sizeof *v6;
    } else {
        return EAI_NONAME;
    }
    char host[NI_MAXHOST];
    int rc = ::getnameinfo(reinterpret_cast<sockaddr*>(&ss), len, host, sizeof host, nullptr, 0, NI_NAMEREQD);
    if (rc != 0) return rc;
    name = host;
    return 0;
}

std::uint32_t real_backend::random_u32() {
    static thread_local std::random_device device;
    return device();
}

int real_backend::debug_level() {
    const std::string text = host::env("TW_DEBUG_LEVEL");
    const char* env = text.c_str();
    if (*env) {
        char* end = nullptr;
        long v = std::strtol(env, &end, 10);
        if (end && *end == '\0') return static_cast<int>(v);
    }
    std::string value;
    if (registry::machine_store().get("EventManager", "nDebugLevel", value)) {
        char* end = nullptr;
        long v = std::strtol(value.c_str(), &end, 10);
        if (!value.empty() && end && *end == '\0') return static_cast<int>(v);
    }
    return 1;
}

std::string real_backend::log_path() {
    std::call_once(log_once_, [this] {
        std::string dir;
        if (!registry::machine_store().get("EventManager", "dEVLOGDIR", dir) || dir.empty())
            dir = tidewall::host::system_paths::product_log_dir;
        ::mkdir(dir.c_str(), 0755);
        log_path_ = dir + "/TSTidewall.log";
    });
    return log_path_;
}

void real_backend::log(int level, const char* tag, const std::string& text, int size_mib, int versions) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                  .count();
    logfile::limits lim;
    lim.max_bytes = static_cast<unsigned long long>(size_mib > 0 ? size_mib : 10) << 20;
    lim.versions = versions;
    // An unwritable log drops the message: logging never fails a caller.
    logfile::writer(log_path()).write(logfile::format_line(ms, ::getpid(), level, tag, text), lim);
}

}  // namespace tidewall::host
