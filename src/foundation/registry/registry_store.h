#ifndef TIDEWALL_FOUNDATION_REGISTRY_STORE_H
#define TIDEWALL_FOUNDATION_REGISTRY_STORE_H

// The product registry on disk: one text file per section,
//   <root>/<instance>/<section>/registry.conf
// one entry a line: the key, one blank, the value (the rest of the line). Lines
// starting with '#', blank lines and lines that are no entry are kept as they
// stand when the file is rewritten. Updates are read-modify-write under the
// section's lock in the root-only lock directory (waited for a bounded time,
// else the update fails and says why in the log), and replace the file atomically.

#include <string>
#include <vector>

namespace tidewall::registry {

struct line {
    std::string text;  // the line as it stands in the file, without newline
    bool is_entry = false;
    std::string key;
    std::string value;
};

// Splits a registry file into lines, recognising entries. The first occurrence
// of a key is the one that counts.
std::vector<line> parse(const std::string& content);
std::string render(const std::vector<line>& lines);

// Looks key up in parsed lines; nullptr when absent.
const line* find(const std::vector<line>& lines, const std::string& key);

// A key must be non-empty, free of white space and not start with '#'; a value
// must not hold a line break. Anything else would not read back as written.
bool valid_key(const std::string& key);
bool valid_value(const std::string& value);

class store {
public:
    // root: directory holding the instances, e.g. /etc/TessalineRegistry/Tolvan
    store(std::string root, std::string instance);
    // A store that refuses every read and write, for the reason given.
    store(std::string root, std::string instance, std::string refused);

    std::string file_of(const std::string& section) const;

    bool get(const std::string& section, const std::string& key, std::string& value) const;
    // false when the key or value is not valid or the file cannot be written.
    bool set(const std::string& section, const std::string& key, const std::string& value) const;

private:
    std::string root_;
    std::string instance_;
    std::string refused_;
};

// An instance is one path component: letters, digits, '_', '-' and '.', not
// starting with '.'.
bool valid_instance(const std::string& name);

// The machine's registry instance: $TW_REGISTRY_INSTANCE, Instance001 when unset
// or empty. false, with why in plain words, when it is not a valid instance.
bool machine_instance(std::string& instance, std::string& why);

// The machine's registry location: the machine instance under
// /etc/TessalineRegistry/Tolvan. An instance that is not valid is never
// replaced by another: the store refuses every access, and says so once on
// stderr and on every refused write in the log.
store machine_store();

}  // namespace tidewall::registry

#endif
