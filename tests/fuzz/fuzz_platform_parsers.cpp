// Arbitrary bytes as the output of dmidecode, ipmitool, smartctl, df and
// /proc/meminfo: every platform query parses what it is given and never
// crashes, whatever the text (truncated, empty, garbage, binary).
//
// The input is cut at "\n--\n" into answers handed to the commands in turn
// (cycling); an answer starting with '!' is a failed run printing the rest.

#include <tidewall/tw_platform.h>
#include <tidewall/tw_smartctl.h>

#include "foundation/host_backend.h"
#include "platform/power_supply.h"
#include "platform/tool_runners.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class fuzz_backend : public tidewall::host::backend {
public:
    explicit fuzz_backend(const std::string& input) {
        const std::string sep = "\n--\n";
        size_t start = 0;
        while (true) {
            size_t at = input.find(sep, start);
            answers_.push_back(input.substr(start, at == std::string::npos ? std::string::npos : at - start));
            if (at == std::string::npos) break;
            start = at + sep.size();
        }
    }

    tidewall::host::command_result run(const std::string&, int) override {
        tidewall::host::command_result r;
        const std::string& a = answers_[next_++ % answers_.size()];
        if (!a.empty() && a[0] == '!') {
            r.status = 1;
            r.out = a.substr(1);
        } else {
            r.out = a;
        }
        return r;
    }
    // No file of the machine is visible: every fixed path lies nowhere.
    std::string map_path(const std::string& path) override { return "/nonexistent-fuzz-root" + path; }
    int get_xattr(const std::string&, const std::string&, std::string&) override { return 61; }
    int set_xattr(const std::string&, const std::string&, const std::string&) override { return 1; }
    int remove_xattr(const std::string&, const std::string&) override { return 61; }
    int fs_usage_of(const std::string&, tidewall::host::fs_usage&) override { return 2; }
    bool reg_get(const std::string&, const std::string&, std::string&) override { return false; }
    bool reg_set(const std::string&, const std::string&, const std::string&) override { return false; }
    std::time_t now() override { return 1700000000; }
    void sleep_ms(unsigned) override {}
    int host_name(std::string& n) override {
        n = "fuzz";
        return 0;
    }
    int resolve(const std::string&, std::string&) override { return -2; }
    int name_of(const std::string&, std::string&) override { return -2; }
    std::uint32_t random_u32() override { return 4; }
    int debug_level() override { return 3; }  // every dump and report line is formatted
    void log(int, const char*, const std::string&, int, int) override {}

private:
    std::vector<std::string> answers_;
    size_t next_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_backend backend(std::string(reinterpret_cast<const char*>(data), size));
    tidewall::host::install(&backend);
    {
        tw_platform p;
        p.get_systeminfo();
        p.get_chipsetinfo();
        p.get_biosinfo();
        p.get_cpuinfo();
        p.get_memoryinfo();
        p.get_pwrsupplyinfo();
        p.get_faninfo();
        p.loginfo(static_cast<tw_platforminfo>(0xFFF));

        tw_debug log;
        std::list<tw_powersupply> supplies;
        fujitsu_get_psinfo(log, supplies);
        hpe_get_psinfo(log, supplies);
        dell_get_psinfo(log, supplies);
        supermicro_get_psinfo(log, supplies);
        lenovo_get_psinfo(log, supplies);
        cisco_get_psinfo(log, supplies);
        std::string entity;
        ipmi_get_entityid(log, "PS1 Status", entity);
        std::map<int, unsigned> temps;
        int n = proc_temp_map_init(log, temps);
        if (n >= 0 && static_cast<size_t>(n) != temps.size()) std::abort();

        tw_smartctl smart("/dev/sda");
        smart.extractoverallhealth("");
        smart.extractparams();
        std::list<smart_param> faulty;
        smart.getfaultyattrs(faulty);
        for (const auto& a : faulty)
            if (a.is_healthy()) std::abort();
        smart.getdriveserialnum("");
    }
    tidewall::host::install(nullptr);
    return 0;
}
