// Arbitrary bytes as a metadata storage document: reading never crashes, hangs
// or ends the process on a wrong kind, and a document that reads is written
// as one that reads back to the same layout.

#include <tidewall/tw_md_storage_config.h>

#include "foundation/host/real_backend.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// The reader logs as it goes; the machine's product log is no place for that.
// Reading runs no command and reads no registry key: should it ever, it gets
// nothing from the machine either.
class quiet_backend : public tidewall::host::real_backend {
public:
    tidewall::host::command_result run(const std::string&, int) override {
        tidewall::host::command_result r;
        r.status = 127;
        return r;
    }
    bool reg_get(const std::string&, const std::string&, std::string&) override { return false; }
    bool reg_set(const std::string&, const std::string&, const std::string&) override { return false; }
    int debug_level() override { return 3; }  // format every message: the formatting is fuzzed too
    void log(int, const char*, const std::string&, int, int) override {}
};

std::string rewritten(const std::string& text, bool& ok) {
    tw_md_storage_config c;
    ok = c.read_config_data(text) == 0;
    if (ok != c.get_failures().empty()) std::abort();
    std::string out;
    if (ok) c.get_config_data(out);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static quiet_backend backend;
    tidewall::host::install(&backend);

    bool ok = false;
    const std::string first = rewritten(std::string(reinterpret_cast<const char*>(data), size), ok);
    if (!ok) return 0;
    bool again = false;
    const std::string second = rewritten(first, again);
    if (!again || second != first) std::abort();
    return 0;
}
