#ifndef TIDEWALL_FOUNDATION_TS_PROCESS_H
#define TIDEWALL_FOUNDATION_TS_PROCESS_H

#include "foundation/host/time_limits.h"

#include <string>

class TsProcess {
public:
    // The limits every caller of this class has used (foundation/host/time_limits.h).
    static constexpr int kDefaultTimeLimitS = tidewall::time_limits::kDefaultS;
    static constexpr int kMkfsTimeLimitS = tidewall::time_limits::kMkfsS;
    static constexpr int kMountTimeLimitS = tidewall::time_limits::kMountS;

    // Runs cmd; 0 on success; standard output and error come back whole where
    // asked. time_limit_s 0 means kDefaultTimeLimitS; when it passes, the whole
    // process group is killed and the command counts as failed.
    static int system(const std::string& cmd, std::string* out, std::string* err, int time_limit_s = 0,
                      bool unused_flag = false);
};

#endif
