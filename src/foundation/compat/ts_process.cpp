#include "foundation/compat/ts_process.h"

#include "foundation/host/host_backend.h"

int TsProcess::system(const std::string& cmd, std::string* out, std::string* err, int time_limit_s, bool) {
    auto r = tidewall::host::current().run(cmd, time_limit_s > 0 ? time_limit_s : kDefaultTimeLimitS);
    if (out) *out = r.out;
    if (err) *err = r.err;
    return r.status;
}
