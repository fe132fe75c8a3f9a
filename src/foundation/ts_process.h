#ifndef TIDEWALL_FOUNDATION_TS_PROCESS_H
#define TIDEWALL_FOUNDATION_TS_PROCESS_H

#include <string>

class TsProcess {
public:
    // Runs cmd and waits without time limit (mkfs of a large disk takes long).
    // 0 on success; standard output and error come back whole where asked.
    static int system(const std::string& cmd, std::string* out, std::string* err, int unused = 0,
                      bool unused_flag = false);
};

#endif
