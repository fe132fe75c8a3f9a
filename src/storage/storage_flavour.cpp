// Which storage the node runs, the appliance image version, and the server model.

#include <tidewall/tw_storage.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/host_backend.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <regex>
#include <vector>

namespace {

// Manufacturer and product name of dmidecode's system section, blanks and tabs
// removed, joined by an underscore.
const char* const kServerModelCommand =
    " dmidecode --type system | awk -F \":\" '/Manufacturer/ || /Product Name/ {\n"
    "\tgsub(/[\\t ]+/, \"\", $NF);\n"
    "\tprintf(\"%s\", $NF);\n"
    "\t\tif($1 ~ /Manufacturer/ )\n"
    " \t\t printf(\"_\");\n"
    "}\n"
    "END {\n"
    "printf(\"\\n\");\n"
    "}'\n";

const char* const kImagePrefix = "Tessaline Arrowfield ";

// A decimal number that fits an int; false for anything else.
bool to_int(const std::string& digits, int& out) {
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(digits.c_str(), &end, 10);
    if (digits.empty() || *end != '\0' || errno == ERANGE || v > INT_MAX || v < INT_MIN) return false;
    out = static_cast<int>(v);
    return true;
}

}  // namespace

int tw_storage::get_server_model(std::string& model) {
    const char* tag = "tw_storage::get_server_model";
    log_.logMessage(tag, tidewall::log_level::step, "Server model will be extracted using the command [%s]",
                    kServerModelCommand);
    // A hung dmidecode must not hang the caller: the time limit cuts it off.
    auto r = tidewall::host::current().run(kServerModelCommand, tidewall::time_limits::kDefaultS);
    if (!r.out.empty()) {
        std::string line = r.out.substr(0, r.out.find('\n'));
        if (line.size() > 4095) line.resize(4095);
        model = line;
    }
    model = tsaf_utils::trim(model);
    log_.logMessage(tag, tidewall::log_level::trace, "Found the server model to be [%s]", model.c_str());
    return 0;
}

int tw_storage::get_imaging_id(int& major, int& minor) {
    const char* tag = "tw_storage::get_imaging_id";
    std::string value;
    if (tsaf_utils::get_reg_key("sArrowfieldImageidentifier", value) != 0) {
        log_.logError(tag, "Failed to query registry key sArrowfieldImageidentifier");
        return -1;
    }
    if (value.compare(0, std::char_traits<char>::length(kImagePrefix), kImagePrefix) != 0) {
        log_.logError(tag, "Failed to parse sArrowfieldImageidentifier, treating it as gluster sds");
        return -1;
    }
    std::vector<std::string> tokens;
    tsaf_utils::tokenize(value.c_str(), " ", tokens);
    static const std::regex version("([0-9]+\\.[0-9]+)");
    for (const auto& token : tokens) {
        if (!std::regex_match(token, version)) continue;
        std::vector<std::string> pieces;
        boost::split(pieces, token, boost::is_any_of("."), boost::token_compress_on);
        int maj = 0, min = 0;
        // A number too large for an int is no version either.
        if (pieces.size() > 1 && to_int(pieces[0], maj) && to_int(pieces[1], min)) {
            major = maj;
            minor = min;
            return 0;
        }
        log_.logError(tag, "Failed to get version string from image identifier %s", value.c_str());
        return -1;
    }
    return -1;
}

unsigned tw_storage::get_sds_type() {
    if (tsaf_utils::getarrowfield_type() == 2) {
        int major = 0, minor = 0;
        if (get_imaging_id(major, minor) != 0) return SDS_GLUSTERFS;
        return major <= 1 ? SDS_GLUSTERFS : SDS_MALDOR;
    }
    std::string type;
    if (tsaf_utils::get_reg_key("sArrowfieldApplianceType", type) != 0) return SDS_UNKNOWN;
    return type == "RM-110" || type == "RM-310" ? SDS_GLUSTERFS : SDS_MALDOR;
}
