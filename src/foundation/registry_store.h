#ifndef TIDEWALL_FOUNDATION_REGISTRY_STORE_H
#define TIDEWALL_FOUNDATION_REGISTRY_STORE_H

// The product registry on disk: one text file per section,
//   <root>/<instance>/<section>/registry.conf
// one entry a line: the key, one blank, the value (the rest of the line). Lines
// starting with '#', blank lines and lines that are no entry are kept as they
// stand when the file is rewritten. Updates are read-modify-write under an
// exclusive flock on a companion lock file, and replace the file atomically.

#include <string>
#include <vector>

namespace tidewall::registry {

struct line {
    std::string text;   // the line as it stands in the file, without newline
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

    std::string file_of(const std::string& section) const;

    bool get(const std::string& section, const std::string& key, std::string& value) const;
    // false when the key or value is not valid or the file cannot be written.
    bool set(const std::string& section, const std::string& key, const std::string& value) const;

private:
    std::string root_;
    std::string instance_;
};

// The machine's registry location: $TW_REGISTRY_INSTANCE or Instance001 under
// /etc/TessalineRegistry/Tolvan.
store machine_store();

} // namespace tidewall::registry

#endif
