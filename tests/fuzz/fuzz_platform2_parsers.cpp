// Arbitrary bytes as the output of sar, ethtool, lspci, MegaCli64, amCLI and
// ssacli, and as the network document and the mount-path location file: the
// activity readers, the network, controller and location queries never crash,
// whatever the text.
//
// The input is cut at "\n--\n" into parts. The first part is the content of
// both files (/var/lib/tidewall/nwconf.json and the location file); the parts
// after it are the answers handed to the commands in turn (cycling, the first
// part when there is no other). An answer starting with '!' is a failed run
// printing the rest.

#include <tidewall/tw_platform.h>

#include "answering_backend.h"
#include "platform/controllers.h"
#include "platform/sar_statistics.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Both documents are the fuzzed file.
class file_backend : public tidewall::fuzzing::answering_backend {
public:
    file_backend(std::vector<std::string> answers, const std::string& file)
        : answering_backend(std::move(answers), 1796751250), file_(file) {}
    std::string map_path(const std::string& path) override {
        if (path == "/var/lib/tidewall/nwconf.json" || path == tw_mpathfileinfo::mpath_file()) return file_;
        return answering_backend::map_path(path);
    }

private:
    std::string file_;
};

std::list<std::string> lines_of(const std::string& text) {
    std::list<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        lines.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string file = "/tmp/fuzz_platform2." + std::to_string(::getpid());
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts = tidewall::fuzzing::split_parts(input);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << parts.front();
    if (parts.size() > 1) parts.erase(parts.begin());
    file_backend backend(std::move(parts), file);
    tidewall::host::install(&backend);
    {
        tw_debug log;
        // sar: one day of each reader, then a range of three days.
        cpu_date_getused(log, 2026, 12, 8, "00:00:00", "23:59:01");
        double a = 0, b = 0;
        nw_date_getstats(log, "eth0", 2026, 12, 8, "00:00:00", "23:59:01", a, b);
        drive_date_getstats(log, "sda", 2026, 12, 8, "00:00:00", "23:59:01", a, b);
        cpu_timerange_getused(log, 1796500000, 1796751250);
        nw_timerange_getstats(log, "lo", 1796500000, 1796751250, a, b);
        drive_timerange_getstats(log, "vda", 1796500000, 1796751250, a, b);

        // Network: the document, the interface list and the ethtool readers.
        tw_platform p;
        for (const auto& [name, nic] : p.nwconf_json_parse("/var/lib/tidewall/nwconf.json"))
            if (name != nic.get_devname()) std::abort();
        p.get_nicinfo();
        p.nic_is_physical("eth0");
        std::string bus;
        tw_platform::nic_get_busaddr("eth0", bus);

        // Controllers: the tools' readers, the ssacli listing, the whole query.
        std::string addr;
        megacli_adp_get_pciaddr(log, 0, addr);
        amcli_devnum_get_pciaddr(log, "1", addr);
        megacli_get_adpcount(log);
        std::map<int, std::string> slots;
        hpcli_slot_map(log, slots);
        std::list<tw_ctrlinfo> ctrls;
        hpcli_parse_ctrl_detail(lines_of(input), slots, ctrls);
        for (const auto& c : ctrls)
            if (c.get_type() != "SAS") std::abort();
        std::list<tw_ctrlinfo> sas;
        sascontrollers_examine(sas);
        p.get_fcinfo();

        // The location file as a person may have left it.
        tw_mpathfileinfo info;
        info.create_mpath_fileinfo_map(tw_mpathfileinfo::mpath_file());
        std::string number;
        for (const auto& [path, entry] : info.get_location_map())
            if (!info.mpath_fileinfo_search(tw_mpathfileinfo::mpath_file(), path, number)) std::abort();
    }
    tidewall::host::install(nullptr);
    return 0;
}
