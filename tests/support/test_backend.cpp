#include "test_backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <filesystem>

namespace tidewall::testing {

namespace {
// The test backends alive, oldest first; the newest is the one installed.
std::vector<test_backend*>& alive() {
    static std::vector<test_backend*> all;
    return all;
}
}  // namespace

test_backend::test_backend() {
    std::string tmpl = (std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) : "/tmp") + "/twtest.XXXXXX";
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    root = tmpl;
    make_dir("/run");  // the library's lock directory is made under it, as on a node
    alive().push_back(this);
    host::install(this);
}

test_backend::~test_backend() {
    auto& all = alive();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
    host::install(all.empty() ? nullptr : all.back());
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
}

void test_backend::on(const std::string& cmd, int status, const std::string& out, const std::string& err) {
    host::command_result r;
    r.status = status;
    r.out = out;
    r.err = err;
    scripts_[cmd].push_back(r);
}

host::command_result test_backend::run(const std::string& cmd, int time_limit_s) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    commands.push_back(cmd);
    time_limits.push_back(time_limit_s);
    // Every command the library runs has a time limit; one without could hang a caller.
    if (time_limit_s <= 0) ADD_FAILURE() << "command run without a time limit: " << cmd;
    auto it = scripts_.find(cmd);
    if (it != scripts_.end() && !it->second.empty()) {
        host::command_result r = it->second.front();
        if (it->second.size() > 1) it->second.pop_front();
        return r;
    }
    if (fallback) {
        if (auto r = fallback(cmd)) return *r;
    }
    host::command_result r;
    r.status = 127;
    r.err = "sh: 1: unscripted command: " + cmd;
    return r;
}

std::string test_backend::map_path(const std::string& path) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    if (path.empty() || path[0] != '/') return path;
    return root + path;
}

std::string test_backend::unmap(const std::string& real) const {
    if (real.compare(0, root.size(), root) == 0) return real.substr(root.size());
    return real;
}

void test_backend::write_file(const std::string& path, const std::string& content) {
    std::string real = root + path;
    std::filesystem::create_directories(std::filesystem::path(real).parent_path());
    std::ofstream f(real, std::ios::binary | std::ios::trunc);
    f << content;
}

std::string test_backend::read_file(const std::string& path) const {
    std::ifstream f(root + path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool test_backend::exists(const std::string& path) const {
    struct stat st {};
    return ::lstat((root + path).c_str(), &st) == 0;
}

void test_backend::make_dir(const std::string& path) { std::filesystem::create_directories(root + path); }

int test_backend::get_xattr(const std::string& path, const std::string& name, std::string& value) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    if (xattr_error) return xattr_error;
    auto p = xattrs.find(unmap(path));
    if (p == xattrs.end()) return exists(unmap(path)) ? ENODATA : ENOENT;
    auto a = p->second.find(name);
    if (a == p->second.end()) return ENODATA;
    value = a->second;
    return 0;
}

int test_backend::set_xattr(const std::string& path, const std::string& name, const std::string& value) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    if (xattr_error) return xattr_error;
    if (!exists(unmap(path))) return ENOENT;
    xattrs[unmap(path)][name] = value;
    return 0;
}

int test_backend::remove_xattr(const std::string& path, const std::string& name) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    if (xattr_error) return xattr_error;
    auto p = xattrs.find(unmap(path));
    if (p == xattrs.end() || !p->second.erase(name)) return ENODATA;
    return 0;
}

int test_backend::fs_usage_of(const std::string& path, host::fs_usage& u) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    std::string p = unmap(path);
    usage_queries.push_back(p);
    for (;;) {
        auto it = usage.find(p);
        if (it != usage.end()) {
            u = it->second;
            return 0;
        }
        size_t slash = p.rfind('/');
        if (slash == std::string::npos || p == "/") return ENOENT;
        p = slash == 0 ? "/" : p.substr(0, slash);
    }
}

bool test_backend::reg_get(const std::string& section, const std::string& key, std::string& value) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    auto s = registry.find(section);
    if (s == registry.end()) return false;
    auto k = s->second.find(key);
    if (k == s->second.end()) return false;
    value = k->second;
    return true;
}

bool test_backend::reg_set(const std::string& section, const std::string& key, const std::string& value) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    if (registry_read_only) return false;
    registry[section][key] = value;
    return true;
}

std::optional<std::string> test_backend::key(const std::string& k) const {
    auto s = registry.find("Dockwright");
    if (s == registry.end()) return std::nullopt;
    auto v = s->second.find(k);
    if (v == s->second.end()) return std::nullopt;
    return v->second;
}

void test_backend::sleep_ms(unsigned ms) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    sleeps.push_back(ms);
    steady += std::chrono::milliseconds(ms);
    sleep_remainder_ms_ += ms;
    clock += sleep_remainder_ms_ / 1000;
    sleep_remainder_ms_ %= 1000;
}

std::chrono::steady_clock::time_point test_backend::steady_now() {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    steady_readers_.insert(std::this_thread::get_id());
    return steady;
}

size_t test_backend::steady_readers() const {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    return steady_readers_.size();
}

bool test_backend::get_env(const std::string& name, std::string& value) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    auto it = env.find(name);
    if (it != env.end()) {
        value = it->second;
        return true;
    }
    return host::backend::get_env(name, value);
}

void test_backend::fail_file(const std::string& op, const std::string& path, int err) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    file_faults_[{op, path}] = err;
}

int test_backend::file_fault(const char* op, const std::string& mapped_path) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    auto it = file_faults_.find({op, unmap(mapped_path)});
    return it == file_faults_.end() ? 0 : it->second;
}

int test_backend::host_name(std::string& name) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    if (hostname_error) return hostname_error;
    name = hostname;
    return 0;
}

int test_backend::resolve(const std::string& name, std::string& address) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    auto it = hosts.find(name);
    if (it == hosts.end()) return -2;
    address = it->second;
    return 0;
}

int test_backend::name_of(const std::string& address, std::string& name) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    for (const auto& [n, a] : hosts) {
        if (a == address) {
            name = n;
            return 0;
        }
    }
    return -2;
}

std::uint32_t test_backend::random_u32() {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    if (random_values.empty()) return 0x12345678;
    auto v = random_values.front();
    random_values.pop_front();
    return v;
}

void test_backend::log(int lvl, const char* tag, const std::string& text, int size_mib, int versions) {
    std::lock_guard<std::recursive_mutex> guard(mu_);
    logs.push_back({lvl, tag ? tag : "", text});
    log_size_mib = size_mib;
    log_versions = versions;
}

bool test_backend::logged(const std::string& text) const {
    for (const auto& l : logs)
        if (l.text == text) return true;
    return false;
}

bool test_backend::logged(int lvl, const std::string& tag, const std::string& text) const {
    for (const auto& l : logs)
        if (l.level == lvl && l.tag == tag && l.text == text) return true;
    return false;
}

}  // namespace tidewall::testing
