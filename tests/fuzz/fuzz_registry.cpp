// Arbitrary bytes as a registry file: reading never crashes, rendering gives the
// bytes back (a person's broken lines are never lost), and every key found reads
// back through a fresh parse of the rendered text.

#include "foundation/registry/registry_store.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    auto lines = tidewall::registry::parse(text);
    std::string rendered = tidewall::registry::render(lines);
    // Rendering ends every line with a newline; otherwise the bytes are the same.
    std::string expected = text;
    if (!expected.empty() && expected.back() != '\n') expected += '\n';
    if (rendered != expected) std::abort();
    auto again = tidewall::registry::parse(rendered);
    for (const auto& l : lines) {
        if (!l.is_entry) continue;
        const auto* found = tidewall::registry::find(again, l.key);
        if (!found) std::abort();
    }
    return 0;
}
