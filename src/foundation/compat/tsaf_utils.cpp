#include "foundation/compat/tsaf_utils.h"

#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/shell_quote.h"
#include "foundation/compat/ts_process.h"
#include "foundation/mount/ts_mnt_parser.h"

#if defined(__x86_64__)
// GCC 12's AVX-512 header starts its "undefined" vectors from themselves and
// then warns about it: silenced for the header's own lines.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif
#include <tidewall/ts_exception.h>

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using tidewall::host::current;
using tidewall::host::path;

const char* const tsaf_utils::kSection = "Dockwright";

namespace {

void append_lines(const std::string& text, std::list<std::string>& lines) {
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
}

std::string strip_trailing_slashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

} // namespace

int tsaf_utils::popen(const std::string& cmd, std::list<std::string>& lines, int time_limit) {
    auto r = current().run(cmd, time_limit > 0 ? time_limit : TsProcess::kDefaultTimeLimitS);
    append_lines(r.out, lines);
    return r.status;
}

int tsaf_utils::execute_command(const std::string& cmd, std::list<std::string>& out, std::string& err,
                                int time_limit) {
    auto r = current().run(cmd, time_limit > 0 ? time_limit : TsProcess::kDefaultTimeLimitS);
    append_lines(r.out, out);
    err = r.err;
    return r.status;
}

int tsaf_utils::get_reg_key(const std::string& name, std::string& value) {
    std::string v;
    if (!current().reg_get(kSection, name, v)) return -1;
    value = v;
    return 0;
}

int tsaf_utils::get_reg_key(const std::string& name, unsigned& value) {
    std::string v;
    if (!current().reg_get(kSection, name, v)) return -1;
    char* end = nullptr;
    errno = 0;
    // Decimal, as an operator writes it: "08" is eight, "0x2" no number.
    unsigned long n = std::strtoul(v.c_str(), &end, 10);
    // A number that does not read is as good as no key: the caller's default applies.
    if (v.empty() || *end != '\0' || errno == ERANGE || n > 0xffffffffUL || v[0] == '-') return -1;
    value = static_cast<unsigned>(n);
    return 0;
}

int tsaf_utils::set_reg_key(const std::string& name, const std::string& value) {
    return current().reg_set(kSection, name, value) ? 0 : -1;
}

int tsaf_utils::getextendedattribute(const std::string& p, const std::string& name, std::string& value) {
    return current().get_xattr(path(p), name, value);
}

int tsaf_utils::setextendedattribute(const std::string& p, const std::string& name, const std::string& value) {
    return current().set_xattr(path(p), name, value);
}

int tsaf_utils::removeextendedattribute(const std::string& p, const std::string& name) {
    return current().remove_xattr(path(p), name);
}

int tsaf_utils::is_mounted(const std::string& p, std::string& blkdev, std::string& fstype,
                           std::list<std::string>& options) {
    std::list<TsMntInfo> entries;
    if (TsMntParser("/etc/mtab").ParseMountPointInfo(entries) != 0) return -1;
    std::string want = strip_trailing_slashes(p);
    // The last entry for a mount point is the one in force (mounts stack).
    const TsMntInfo* found = nullptr;
    for (const auto& e : entries)
        if (e.GetMountPoint() == want) found = &e;
    if (!found) return 0;
    blkdev = found->GetBackingDevice();
    fstype = found->GetFileSystemType();
    found->GetMountOptions(options);
    return 1;
}

int tsaf_utils::get_dir_bdev(const std::string& dir, std::string& bdev, std::string& mnt_point) {
    std::list<TsMntInfo> entries;
    if (TsMntParser("/etc/mtab").ParseMountPointInfo(entries) != 0) return -1;
    std::string want = strip_trailing_slashes(dir);
    size_t best = 0;
    bool found = false;
    for (const auto& e : entries) {
        const std::string& mp = e.GetMountPoint();
        bool covers = mp == "/" || want == mp || (want.compare(0, mp.size(), mp) == 0 && want.size() > mp.size() &&
                                                  want[mp.size()] == '/');
        if (covers && mp.size() >= best) {
            best = mp.size();
            bdev = e.GetBackingDevice();
            mnt_point = mp;
            found = true;
        }
    }
    return found ? 0 : -1;
}

int tsaf_utils::get_fs_usage(const std::string& p, unsigned long& total, unsigned long& free) {
    tidewall::host::fs_usage u;
    int rc = current().fs_usage_of(path(p), u);
    if (rc != 0) return rc;
    total = u.total_bytes;
    free = u.free_bytes;
    return 0;
}

std::string tsaf_utils::create_file_sys_args(const std::list<std::string>& options) {
    std::string out;
    for (const auto& o : options) {
        if (!out.empty()) out += ',';
        out += o;
    }
    return out;
}

int tsaf_utils::is_present(const std::list<std::string>& items, const std::string& value) {
    for (const auto& i : items)
        if (i == value) return 1;
    return 0;
}

int tsaf_utils::get_name_value_pair(const std::string& line, std::string& name, std::string& value) {
    return get_name_value_pair(line, ':', name, value);
}

int tsaf_utils::get_name_value_pair(const std::string& line, char sep, std::string& name, std::string& value) {
    size_t pos = line.find(sep);
    if (pos == std::string::npos) return -1;
    name = line.substr(0, pos);
    value = line.substr(pos + 1);
    return 0;
}

void tsaf_utils::tokenize(const char* text, const char* separators, std::vector<std::string>& out) {
    if (!text) return;
    std::string s(text);
    std::string seps(separators ? separators : "");
    size_t i = 0;
    while (i < s.size()) {
        size_t start = s.find_first_not_of(seps, i);
        if (start == std::string::npos) break;
        size_t end = s.find_first_of(seps, start);
        out.push_back(s.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        i = end;
    }
}

std::string tsaf_utils::trim(const std::string& s) {
    static const char* ws = " \t\n\r\f\v";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

std::string tsaf_utils::trim_left(const std::string& s, const std::string& chars) {
    size_t b = s.find_first_not_of(chars);
    return b == std::string::npos ? "" : s.substr(b);
}

std::string tsaf_utils::trim_right(const std::string& s, const std::string& chars) {
    size_t e = s.find_last_not_of(chars);
    return e == std::string::npos ? "" : s.substr(0, e + 1);
}

int tsaf_utils::read_file(const std::string& p, std::list<std::string>& lines) {
    std::string text;
    int rc = tidewall::file_io::read_all(path(p), text);
    if (rc != 0) return rc;
    append_lines(text, lines);
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

bool tsaf_utils::is_file(const std::string& p) {
    struct stat st {};
    return ::stat(path(p).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool tsaf_utils::is_dir(const std::string& p) {
    struct stat st {};
    return ::stat(path(p).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

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
    std::string s = strip_trailing_slashes(p);
    size_t slash = s.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return strip_trailing_slashes(s.substr(0, slash));
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

unsigned tsaf_utils::string_to_uint(const std::string& s) {
    unsigned long v = string_to_ulong(s);
    return v > 0xffffffffUL ? 0xffffffffU : static_cast<unsigned>(v);
}

unsigned long tsaf_utils::string_to_ulong(const std::string& s) {
    size_t i = s.find_first_not_of(" \t");
    if (i == std::string::npos || s[i] < '0' || s[i] > '9') return 0;
    errno = 0;
    unsigned long v = std::strtoul(s.c_str() + i, nullptr, 10);
    return errno == ERANGE ? static_cast<unsigned long>(-1) : v;
}

double tsaf_utils::string_to_double(const std::string& s) {
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    return end == s.c_str() ? 0.0 : v;
}

std::string tsaf_utils::uint_to_string(unsigned v) { return std::to_string(v); }
std::string tsaf_utils::ulong_to_string(unsigned long v) { return std::to_string(v); }

std::string tsaf_utils::uint_to_hexstr(unsigned v, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*x", width < 0 ? 0 : (width > 16 ? 16 : width), v);
    return buf;
}

std::string tsaf_utils::booltostr(bool v) { return v ? "true" : "false"; }

int tsaf_utils::resolve_hname(const std::string& name, std::string& out) {
    if (name.empty()) return -1;
    return current().resolve(name, out);
}

namespace {

bool is_loop_back_address(const std::string& a) { return a.rfind("127.", 0) == 0 || a == "::1"; }

bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

int tsaf_utils::is_loop_back_hname(const std::string& name) {
    if (name.empty()) return 0;
    if (same_name(name, "localhost") || is_loop_back_address(name)) return 1;
    std::string self;
    if (current().host_name(self) == 0 && !self.empty()) {
        // Host names compare without regard to case; a short name stands for
        // this host only when the full name begins with it.
        if (same_name(name, self) || same_name(name, self.substr(0, self.find('.')))) return 1;
    }
    // Bricks and peers are often named by the storage network's name or
    // address: such a name is this node's when it leads to one of its interfaces.
    std::string addr;
    unsigned char literal[sizeof(struct in6_addr)];
    if (::inet_pton(AF_INET, name.c_str(), literal) == 1 || ::inet_pton(AF_INET6, name.c_str(), literal) == 1)
        addr = name;  // an address stands for itself
    else if (current().resolve(name, addr) != 0 || addr.empty())
        return 0;
    if (is_loop_back_address(addr)) return 1;
    std::vector<std::string> own;
    if (current().local_addresses(own) != 0) return 0;
    for (const auto& a : own)
        if (a == addr) return 1;
    return 0;
}

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

} // namespace

int tsaf_utils::disableservice(const std::string& name, bool stop_now) {
    if (name.empty()) return -1;
    std::string cmd = std::string("systemctl disable ") + (stop_now ? "--now " : "") + tidewall::shell_quote(name);
    return current().run(cmd, 100).status == 0 ? 0 : -1;
}

int tsaf_utils::systemctl_reload_cmd() { return current().run("systemctl daemon-reload", 100).status == 0 ? 0 : -1; }

int tsaf_utils::generate_ssh_keys(const std::string& private_key_path) {
    if (private_key_path.empty()) return -1;
    int rc = mkdir_r(dirname(private_key_path), 0700);
    if (rc != 0) return rc;
    std::string key = tidewall::shell_quote(private_key_path);
    if (is_file(private_key_path)) {
        // Peers may already trust this key: never replace it, only give it its public half again.
        auto r = current().run("ssh-keygen -y -f " + key, 100);
        if (r.status != 0 || trim(r.out).empty()) return r.status != 0 ? r.status : -1;
        return tidewall::file_io::write_atomic(path(private_key_path + ".pub"), trim(r.out) + "\n", 0644);
    }
    return current().run("ssh-keygen -q -t rsa -b 4096 -N '' -f " + key, 100).status;
}

int tsaf_utils::copy_ssh_keys(const std::string& public_key_path, const std::string& host,
                              const std::string& password) {
    if (!usable_host(host) || !is_file(public_key_path)) return -1;
    std::string target = "root@" + host;
    std::string tail = tidewall::shell_quote(public_key_path) + " -o ConnectTimeout=10 -o StrictHostKeyChecking=accept-new ";
    if (password.empty())
        return current().run("ssh-copy-id -i " + tail + "-o BatchMode=yes " + target, 100).status;
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
        rc = current().run("sshpass -f " + tidewall::shell_quote(file) + " ssh-copy-id -i " + tail + target, 100).status;
    }
    ::unlink(tmpl.c_str());
    return rc;
}

int tsaf_utils::get_remote_dir_contents(const std::string& host, const std::string& dir,
                                        std::list<std::string>& names) {
    if (!usable_host(host) || dir.empty()) return -1;
    std::string remote = "ls -A -- " + tidewall::shell_quote(dir);
    auto r = current().run(std::string("ssh ") + kSshOptions + " root@" + host + " " + tidewall::shell_quote(remote), 100);
    if (r.status != 0) return r.status;
    append_lines(r.out, names);
    return 0;
}

int tsaf_utils::delete_remote_file(const std::string& host, const std::string& file) {
    if (!usable_host(host) || file.empty()) return -1;
    std::string remote = "rm -f -- " + tidewall::shell_quote(file);
    return current().run(std::string("ssh ") + kSshOptions + " root@" + host + " " + tidewall::shell_quote(remote), 100).status;
}

namespace {

// A counter-based generator (the SplitMix64 finaliser over key and position):
// word i depends only on key and i, so any stretch of the stream can be made
// on its own, and the words are the same on every machine and run.
inline std::uint64_t mix64(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

} // namespace

unsigned tsaf_utils::generate_prg_key(std::string& key_text) {
    unsigned key = current().random_u32();
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", key);
    key_text = buf;
    return key;
}

void tsaf_utils::generate_prg_data(unsigned key, unsigned* buf, unsigned count) {
    generate_prg_data_at(key, 0, buf, count);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Eight pairs of words at a time where the processor has 64-bit vector
// multiplies (AVX-512 DQ): the same words, about ten times as fast, so that
// making and checking the stream never holds up a disk.
#define TW_PRG_VECTOR 1

namespace {

bool prg_vector_usable() {
    static const bool usable = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
    return usable;
}

__attribute__((target("avx512f,avx512dq"))) inline __m512i mix64x8(__m512i z) {
    z = _mm512_mullo_epi64(_mm512_xor_si512(z, _mm512_srli_epi64(z, 30)), _mm512_set1_epi64(0xBF58476D1CE4E5B9LL));
    z = _mm512_mullo_epi64(_mm512_xor_si512(z, _mm512_srli_epi64(z, 27)), _mm512_set1_epi64(0x94D049BB133111EBLL));
    return _mm512_xor_si512(z, _mm512_srli_epi64(z, 31));
}

// The inputs of mix64 for pairs pair+1 .. pair+8.
__attribute__((target("avx512f,avx512dq"))) inline __m512i first_inputs(std::uint64_t base, std::uint64_t pair,
                                                                         std::uint64_t step) {
    return _mm512_add_epi64(_mm512_set1_epi64(static_cast<long long>(base + (pair + 1) * step)),
                            _mm512_mullo_epi64(_mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7),
                                               _mm512_set1_epi64(static_cast<long long>(step))));
}

// Fills whole groups of eight pairs (a pair is one 64-bit value, low word first,
// as memory holds it); the number of pairs done.
__attribute__((target("avx512f,avx512dq"))) std::uint64_t fill_pairs_vector(std::uint64_t base, std::uint64_t pair,
                                                                            std::uint64_t step, unsigned* buf,
                                                                            std::uint64_t pairs) {
    __m512i x = first_inputs(base, pair, step);
    const __m512i advance = _mm512_set1_epi64(static_cast<long long>(step * 8));
    std::uint64_t j = 0;
    for (; j + 8 <= pairs; j += 8) {
        _mm512_storeu_si512(buf + 2 * j, mix64x8(x));
        x = _mm512_add_epi64(x, advance);
    }
    return j;
}

// The or of all differences over whole groups of eight pairs; done the pairs looked at.
__attribute__((target("avx512f,avx512dq"))) std::uint64_t diff_pairs_vector(std::uint64_t base, std::uint64_t pair,
                                                                            std::uint64_t step, const unsigned* buf,
                                                                            std::uint64_t pairs, std::uint64_t& done) {
    __m512i x = first_inputs(base, pair, step);
    const __m512i advance = _mm512_set1_epi64(static_cast<long long>(step * 8));
    __m512i diff = _mm512_setzero_si512();
    std::uint64_t j = 0;
    for (; j + 8 <= pairs; j += 8) {
        diff = _mm512_or_si512(diff, _mm512_xor_si512(mix64x8(x), _mm512_loadu_si512(buf + 2 * j)));
        x = _mm512_add_epi64(x, advance);
    }
    done = j;
    return static_cast<std::uint64_t>(_mm512_reduce_or_epi64(diff));
}

} // namespace
#endif

void tsaf_utils::generate_prg_data_at(unsigned key, std::uint64_t first, unsigned* buf, unsigned count) {
    const std::uint64_t base = (static_cast<std::uint64_t>(key) << 32 | key) ^ 0x6A09E667F3BCC908ULL;
    const std::uint64_t step = 0x9E3779B97F4A7C15ULL;
    std::uint64_t pair = first / 2;
    unsigned i = 0;
    if (count > 0 && (first & 1)) {
        buf[i++] = static_cast<unsigned>(mix64(base + (pair + 1) * step) >> 32);
        ++pair;
    }
#ifdef TW_PRG_VECTOR
    if (prg_vector_usable()) {
        std::uint64_t done = fill_pairs_vector(base, pair, step, buf + i, (count - i) / 2);
        i += static_cast<unsigned>(done * 2);
        pair += done;
    }
#endif
    for (; i + 1 < count; i += 2, ++pair) {
        std::uint64_t z = mix64(base + (pair + 1) * step);
        buf[i] = static_cast<unsigned>(z);
        buf[i + 1] = static_cast<unsigned>(z >> 32);
    }
    if (i < count) buf[i] = static_cast<unsigned>(mix64(base + (pair + 1) * step));
}

bool tsaf_utils::prg_data_matches_at(unsigned key, std::uint64_t first, const unsigned* buf, unsigned count) {
    const std::uint64_t base = (static_cast<std::uint64_t>(key) << 32 | key) ^ 0x6A09E667F3BCC908ULL;
    const std::uint64_t step = 0x9E3779B97F4A7C15ULL;
    std::uint64_t pair = first / 2;
    unsigned i = 0;
    std::uint64_t diff = 0;
    if (count > 0 && (first & 1)) {
        diff |= buf[i++] ^ static_cast<unsigned>(mix64(base + (pair + 1) * step) >> 32);
        ++pair;
    }
#ifdef TW_PRG_VECTOR
    if (prg_vector_usable()) {
        std::uint64_t done = 0;
        diff |= diff_pairs_vector(base, pair, step, buf + i, (count - i) / 2, done);
        i += static_cast<unsigned>(done * 2);
        pair += done;
    }
#endif
    // Two words at a time, as generated: the low word first, as memory holds them.
    for (; i + 1 < count; i += 2, ++pair) {
        std::uint64_t z = mix64(base + (pair + 1) * step);
        diff |= buf[i] ^ static_cast<unsigned>(z);
        diff |= buf[i + 1] ^ static_cast<unsigned>(z >> 32);
    }
    if (i < count) diff |= buf[i] ^ static_cast<unsigned>(mix64(base + (pair + 1) * step));
    return diff == 0;
}

// Node facts with no other source are registry keys of section Dockwright.
bool tsaf_utils::is_arrowfield_dw() {
    unsigned v = 0;  // nArrowfieldDataMover, default 0: not a data mover
    return get_reg_key("nArrowfieldDataMover", v) == 0 && v != 0;
}

unsigned tsaf_utils::getarrowfield_type() {
    unsigned v = 0;  // nArrowfieldApplianceKind, default 0: kind unknown
    if (get_reg_key("nArrowfieldApplianceKind", v) != 0) return 0;
    return v;
}

bool tsaf_utils::is_efi_platform() {
    struct stat st {};
    return ::stat(path("/sys/firmware/efi").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int tsaf_utils::get_maldor_cluster_nodes(std::string& nodes) {
    // sMaldorClusterNodes: the Maldor cluster's node names; no default.
    return get_reg_key("sMaldorClusterNodes", nodes);
}

int tsaf_utils::check_rpm(const std::string& name) {
    // 0 means installed. Debian nodes have no rpm database: ask dpkg as well.
    std::string q = name;
    for (char c : q)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' || c == '+'))
            return -1;
    auto r = current().run("rpm -q " + q + " >/dev/null 2>&1 || dpkg -s " + q + " >/dev/null 2>&1", 100);
    return r.status == 0 ? 0 : -1;
}

void tsaf_utils::manage_subscriptions() {
    // sSubscriptionRefreshCommand: the command that refreshes the node's
    // software subscriptions; none is run when the key is absent or empty.
    std::string cmd;
    if (get_reg_key("sSubscriptionRefreshCommand", cmd) != 0 || trim(cmd).empty()) return;
    auto r = current().run(cmd, 100);
    if (r.status != 0)
        throw TsException("tsaf_utils::manage_subscriptions",
                          "Subscription refresh [" + cmd + "] failed with error [" + trim(r.err) + "]",
                          "tsaf_utils", __LINE__, -1);
}

std::time_t tsaf_utils::now() { return current().now(); }

std::string tsaf_utils::time_get_timestr(std::time_t t) {
    struct tm tm {};
    if (!::localtime_r(&t, &tm)) return "";
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
    return buf;
}

std::time_t tsaf_utils::time_get_datetimezero(std::time_t t) {
    struct tm tm {};
    if (!::localtime_r(&t, &tm)) return t;
    tm.tm_hour = 0;
    tm.tm_min = 0;
    tm.tm_sec = 0;
    tm.tm_isdst = -1;  // the offset in force at midnight, which a DST change may differ from t's
    return std::mktime(&tm);
}
