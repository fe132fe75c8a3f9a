#ifndef TIDEWALL_FOUNDATION_TS_PROCESS_H
#define TIDEWALL_FOUNDATION_TS_PROCESS_H

#include <string>

class TsProcess {
public:
    // Every command has a time limit: a hung tool must never hang a caller.
    static constexpr int kDefaultTimeLimitS = 100;
    // mkfs of a large disk takes long, but not forever.
    static constexpr int kMkfsTimeLimitS = 7200;
    // Mounting replays a file system's log, which on a large one takes minutes.
    static constexpr int kMountTimeLimitS = 600;

    // Runs cmd; 0 on success; standard output and error come back whole where
    // asked. time_limit_s 0 means kDefaultTimeLimitS; when it passes, the whole
    // process group is killed and the command counts as failed.
    static int system(const std::string& cmd, std::string* out, std::string* err, int time_limit_s = 0,
                      bool unused_flag = false);
};

#endif
