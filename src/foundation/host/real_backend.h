#ifndef TIDEWALL_FOUNDATION_REAL_BACKEND_H
#define TIDEWALL_FOUNDATION_REAL_BACKEND_H

#include "foundation/host/host_backend.h"

#include <mutex>

namespace tidewall::host {

// The machine itself: real processes, files, extended attributes, registry files
// and the product log file.
class real_backend : public backend {
public:
    command_result run(const std::string& cmd, int time_limit_s) override;
    std::string map_path(const std::string& path) override { return path; }
    int get_xattr(const std::string& path, const std::string& name, std::string& value) override;
    int set_xattr(const std::string& path, const std::string& name, const std::string& value) override;
    int remove_xattr(const std::string& path, const std::string& name) override;
    int fs_usage_of(const std::string& path, fs_usage& usage) override;
    bool reg_get(const std::string& section, const std::string& key, std::string& value) override;
    bool reg_set(const std::string& section, const std::string& key, const std::string& value) override;
    std::time_t now() override;
    void sleep_ms(unsigned milliseconds) override;
    int host_name(std::string& name) override;
    int resolve(const std::string& name, std::string& address) override;
    int name_of(const std::string& address, std::string& name) override;
    int local_addresses(std::vector<std::string>& addresses) override;
    std::uint32_t random_u32() override;
    int debug_level() override;
    void log(int level, const char* tag, const std::string& text, int size_mib, int versions) override;

    // Where the log goes: dEVLOGDIR of section EventManager, else /var/log/tessaline.
    std::string log_path();

private:
    std::once_flag log_once_;
    std::string log_path_;
};

}  // namespace tidewall::host

#endif
