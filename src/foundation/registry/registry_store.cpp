#include "foundation/registry/registry_store.h"
#include "foundation/log/log_level.h"

#include "foundation/fs/file_io.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/system_paths.h"
#include "foundation/text/lines.h"

#include <tidewall/tw_debug.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace tidewall::registry {

namespace {

int make_dirs(const std::string& dir) {
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        partial = dir.substr(0, pos);
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return errno;
    }
    return 0;
}

constexpr const char* kDefaultInstance = "Instance001";

// Section locks: a second writer is waited for this long, then the write fails.
constexpr unsigned kSectionLockWaitMs = 10000;

}  // namespace

std::vector<line> parse(const std::string& content) {
    std::vector<line> lines;
    for (std::string& text : tidewall::text::split_lines(content)) {
        line l;
        l.text = std::move(text);
        const std::string& t = l.text;
        // An entry starts with its key; lines that start blank, with '#' or are
        // empty are no entries (a person may have broken them) and stay as text.
        if (!t.empty() && t[0] != '#' && t[0] != ' ' && t[0] != '\t' && t[0] != '\r') {
            size_t blank = t.find(' ');
            l.key = t.substr(0, blank);
            l.value = blank == std::string::npos ? std::string() : t.substr(blank + 1);
            // An editor that saved CRLF line ends must not change the values.
            if (!l.value.empty() && l.value.back() == '\r') l.value.pop_back();
            if (!l.key.empty() && l.key.back() == '\r') l.key.pop_back();
            l.is_entry = valid_key(l.key);
        }
        lines.push_back(std::move(l));
    }
    return lines;
}

std::string render(const std::vector<line>& lines) {
    std::string out;
    for (const auto& l : lines) {
        out += l.text;
        out += '\n';
    }
    return out;
}

const line* find(const std::vector<line>& lines, const std::string& key) {
    for (const auto& l : lines)
        if (l.is_entry && l.key == key) return &l;
    return nullptr;
}

bool valid_key(const std::string& key) {
    if (key.empty() || key[0] == '#') return false;
    for (unsigned char c : key)
        if (c <= ' ' || c == 0x7f) return false;
    return true;
}

bool valid_value(const std::string& value) {
    return value.find('\n') == std::string::npos && value.find('\r') == std::string::npos &&
           value.find('\0') == std::string::npos;
}

bool valid_instance(const std::string& name) {
    if (name.empty() || name[0] == '.') return false;
    for (unsigned char c : name)
        if (!std::isalnum(c) && c != '_' && c != '-' && c != '.') return false;
    return true;
}

bool machine_instance(std::string& instance, std::string& why) {
    why.clear();
    instance = host::env("TW_REGISTRY_INSTANCE");
    if (instance.empty()) instance = kDefaultInstance;
    if (valid_instance(instance)) return true;
    why = "TW_REGISTRY_INSTANCE [" + instance +
          "] refused: an instance is one name of letters, digits, '_', '-' and '.' not starting with '.'";
    return false;
}

store::store(std::string root, std::string instance) : root_(std::move(root)), instance_(std::move(instance)) {}

store::store(std::string root, std::string instance, std::string refused)
    : root_(std::move(root)), instance_(std::move(instance)), refused_(std::move(refused)) {}

std::string store::file_of(const std::string& section) const {
    return root_ + "/" + instance_ + "/" + section + "/registry.conf";
}

bool store::get(const std::string& section, const std::string& key, std::string& value) const {
    if (!refused_.empty()) return false;
    if (!valid_key(key) || section.empty() || section.find('/') != std::string::npos) return false;
    std::string content;
    if (file_io::read_all(file_of(section), content) != 0) return false;
    auto lines = parse(content);
    const line* l = find(lines, key);
    if (!l) return false;
    value = l->value;
    return true;
}

bool store::set(const std::string& section, const std::string& key, const std::string& value) const {
    const char* tag = "tidewall::registry::store::set";
    if (!refused_.empty()) {
        tw_debug().logMessage(tag, tidewall::log_level::failure, "Not writing [%s] [%s]: %s", section.c_str(),
                              key.c_str(), refused_.c_str());
        return false;
    }
    if (!valid_key(key) || !valid_value(value) || section.empty() || section.find('/') != std::string::npos)
        return false;
    std::string file = file_of(section);
    std::string dir = file.substr(0, file.rfind('/'));
    if (make_dirs(dir) != 0) return false;
    locks::held_lock lock(locks::lock_name_for("registry", file), kSectionLockWaitMs);
    if (!lock.held()) {
        tw_debug().logMessage(tag, tidewall::log_level::failure, "Not writing [%s] [%s]: the lock of [%s] is %s",
                              section.c_str(), key.c_str(), file.c_str(), lock.why().c_str());
        return false;
    }
    std::string content;
    int rc = file_io::read_all(file, content);
    if (rc != 0 && rc != ENOENT) return false;  // never replace a file we could not read
    auto lines = parse(content);
    std::string text = key + " " + value;
    bool replaced = false;
    for (auto& l : lines) {
        if (l.is_entry && l.key == key) {
            if (l.value == value && l.text == text) return true;
            l.text = text;
            l.value = value;
            replaced = true;
            break;
        }
    }
    if (!replaced) {
        line l;
        l.text = text;
        l.is_entry = true;
        l.key = key;
        l.value = value;
        lines.push_back(std::move(l));
    }
    return file_io::write_atomic(file, render(lines), 0644) == 0;
}

store machine_store() {
    std::string instance, why;
    if (machine_instance(instance, why)) return store(tidewall::host::system_paths::registry_root, instance);
    // Said once on stderr, where the caller who set it looks; never through the
    // log, whose own location is read from this registry.
    static std::once_flag told;
    std::call_once(told, [&] { std::fprintf(stderr, "tidewall: %s; the registry is not used\n", why.c_str()); });
    return store(tidewall::host::system_paths::registry_root, instance, why);
}

}  // namespace tidewall::registry
