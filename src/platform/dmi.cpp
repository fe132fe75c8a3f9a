// System, baseboard and BIOS records from the firmware tables (dmidecode).

#include <tidewall/tw_platform.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"
#include "platform/tool_runners.h"

namespace {

bool contains(const std::string& line, const char* label) { return line.find(label) != std::string::npos; }

}  // namespace

tw_system& tw_platform::get_systeminfo() {
    const char* tag = "tw_platform::get_systeminfo";
    std::string vendor, model, serial;
    std::list<std::string> out;
    int status = run_dmidecode(log_, "-t system", out);

    if (status == 0 && !out.empty()) {
        // The block reads: header, Manufacturer, Product Name, Version, Serial Number.
        for (auto it = out.begin(); it != out.end(); ++it) {
            if (!contains(*it, "System Information")) continue;
            std::string name, value;

            if (++it == out.end()) {
                log_.logMessage(tag, tidewall::log_level::failure, "Manufacturer field not found");
                break;
            }
            if (contains(*it, "Manufacturer")) {
                if (tsaf_utils::get_name_value_pair(*it, name, value) != 0) {
                    log_.logMessage(tag, tidewall::log_level::failure, "Failed to extract Manufacturer name [%s]",
                                    it->c_str());
                    break;
                }
                vendor = value;
            }

            if (++it == out.end()) {
                log_.logMessage(tag, tidewall::log_level::failure, "Product Name field not found");
                break;
            }
            if (contains(*it, "Product Name")) {
                if (tsaf_utils::get_name_value_pair(*it, name, value) != 0) {
                    log_.logMessage(tag, tidewall::log_level::failure, "Failed to extract Product Name [%s]",
                                    it->c_str());
                    break;
                }
                model = value;
            }

            // Skip the version line.
            if (++it == out.end() || ++it == out.end()) {
                log_.logMessage(tag, tidewall::log_level::failure, "Serial Number field not found");
                break;
            }
            if (contains(*it, "Serial Number")) {
                if (tsaf_utils::get_name_value_pair(*it, name, value) != 0)
                    log_.logMessage(tag, tidewall::log_level::failure, "Failed to extract Serial Number %s",
                                    it->c_str());
                else
                    serial = value;
                break;
            }
        }
    }

    system_.set_vendor(tsaf_utils::trim(vendor));
    system_.set_modelno(tsaf_utils::trim(model));
    system_.set_serialnum(tsaf_utils::trim(serial));
    loginfo(PINFO_SYSTEM);
    return system_;
}

tw_chipset& tw_platform::get_chipsetinfo() {
    struct field {
        const char* args;
        void (tw_chipset::*set)(const std::string&);
    };
    static const field fields[] = {
        {"--string baseboard-manufacturer", &tw_chipset::set_manu},
        {"--string baseboard-product-name", &tw_chipset::set_prodname},
        {"--string baseboard-version", &tw_chipset::set_version},
        {"--string baseboard-serial-number", &tw_chipset::set_serialnum},
    };
    std::list<std::string> out;
    for (const auto& f : fields) {
        // A failed run keeps what the field held before.
        if (run_dmidecode(log_, f.args, out) == 0 && !out.empty()) (chipset_.*f.set)(tsaf_utils::trim(out.front()));
        out.clear();
    }
    loginfo(PINFO_CHIPSET);
    return chipset_;
}

tw_bios& tw_platform::get_biosinfo() {
    const char* tag = "tw_platform::get_biosinfo";
    std::string vendor, version, reldate, revision;
    std::list<std::string> out;
    int status = run_dmidecode(log_, "-t bios", out);

    if (status == 0 && !out.empty()) {
        struct label {
            const char* text;
            std::string* target;
            const char* failure;
        };
        const label labels[] = {
            {"Vendor", &vendor, "Failed to extract Bios Vendor [%s]"},
            {"Version", &version, "Failed to extract Bios Version [%s]"},
            {"Release Date", &reldate, "Failed to extract Release Date [%s]"},
            {"BIOS Revision", &revision, "Failed to extract Bios Revision [%s]"},
        };
        bool stop = false;
        for (auto it = out.begin(); it != out.end() && !stop; ++it) {
            for (const auto& l : labels) {
                if (!contains(*it, l.text)) continue;
                std::string name, value;
                if (tsaf_utils::get_name_value_pair(*it, name, value) != 0) {
                    log_.logMessage(tag, tidewall::log_level::failure, l.failure, it->c_str());
                    stop = true;
                    break;
                }
                *l.target = value;
            }
        }
    }

    bios_.set_vendor(tsaf_utils::trim(vendor));
    bios_.set_version(tsaf_utils::trim(version));
    bios_.set_reldate(tsaf_utils::trim(reldate));
    bios_.set_revision(tsaf_utils::trim(revision));
    loginfo(PINFO_BIOS);
    return bios_;
}
