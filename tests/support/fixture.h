#ifndef TIDEWALL_TESTS_FIXTURE_H
#define TIDEWALL_TESTS_FIXTURE_H

// The bytes of a captured tool output under tests/fixtures. A missing fixture
// throws: read as empty it would let a parser test pass on nothing.

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace tidewall::testing {

inline std::string fixture(const std::string& rel) {
    std::ifstream f(std::string(TW_FIXTURES_DIR) + "/" + rel, std::ios::binary);
    if (!f) throw std::runtime_error("missing fixture " + rel);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

}  // namespace tidewall::testing

#endif
