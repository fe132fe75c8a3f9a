#ifndef TIDEWALL_FOUNDATION_TS_PLATFORM_INFO_H
#define TIDEWALL_FOUNDATION_TS_PLATFORM_INFO_H

#include <string>

// Registry access with an explicit section. These return non-zero on success
// and 0 on failure.
class TSPlatformInfo {
public:
    static int getString(const std::string& section, const std::string& key, std::string* value);
    static int getLongLong(const std::string& section, const std::string& key, unsigned long long* value);
    static int setString(const std::string& section, const std::string& key, const std::string& value, unsigned length);
    static int setLongLong(const std::string& section, const std::string& key, unsigned long long value);
    // The registry instance in focus ($TW_REGISTRY_INSTANCE, Instance001 when
    // none is named); empty when the one named is not a valid instance name, so
    // that no path is built from it.
    static std::string getFocus();
};

#endif
