// Arbitrary bytes as a mount table: parsing never crashes, and every entry it
// yields has a device and a mount point.

#include "foundation/mount/ts_mnt_parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::list<TsMntInfo> entries;
    TsMntParser::ParseText(text, entries);
    for (const auto& e : entries) {
        if (e.GetBackingDevice().empty() || e.GetMountPoint().empty()) std::abort();
        std::list<std::string> options;
        e.GetMountOptions(options);
        for (const auto& o : options)
            if (o.empty() || o.find(',') != std::string::npos) std::abort();
    }
    return 0;
}
