#ifndef TIDEWALL_TESTS_LOCAL_ZONE_H
#define TIDEWALL_TESTS_LOCAL_ZONE_H

// Runs a test in the time zone tz, restoring the previous one afterwards.

#include <cstdlib>
#include <ctime>
#include <string>

namespace tidewall::testing {

class local_zone {
public:
    explicit local_zone(const char* tz) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~local_zone() {
        if (had_)
            ::setenv("TZ", old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    local_zone(const local_zone&) = delete;
    local_zone& operator=(const local_zone&) = delete;

private:
    bool had_ = false;
    std::string old_;
};

}  // namespace tidewall::testing

#endif
