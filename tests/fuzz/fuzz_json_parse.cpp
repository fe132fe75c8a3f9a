// Arbitrary bytes as a JSON document: parsing never crashes, hangs or runs the
// stack out; the string and stream readers agree; and whatever parses is
// written as text that reads back to the very same text.

#include <tidewall/twjson.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    twjson::Object doc;
    twjson::parse_error error;
    const bool ok = twjson::parse(doc, text, error);
    if (ok != error.reason.empty()) std::abort();
    if (!ok && error.offset > text.size()) std::abort();

    twjson::Object from_stream;
    std::istringstream in(text);
    if (from_stream.parse(in) != ok) std::abort();
    if (!ok) return 0;

    const std::string written = doc.json();
    if (from_stream.json() != written) std::abort();

    // The written form is a fixed point: reading it and writing again changes nothing.
    twjson::Object back;
    if (!back.parse(written)) std::abort();
    if (back.json() != written) std::abort();

    // Copies are deep and equal.
    twjson::Object copy = back;
    back.reset();
    if (copy.json() != written) std::abort();
    return 0;
}
