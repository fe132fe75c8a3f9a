#include "foundation/ts_process.h"

#include "foundation/host_backend.h"

int TsProcess::system(const std::string& cmd, std::string* out, std::string* err, int, bool) {
    auto r = tidewall::host::current().run(cmd, 0);
    if (out) *out = r.out;
    if (err) *err = r.err;
    return r.status;
}
