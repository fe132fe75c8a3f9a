#include "foundation/compat/tsaf_utils.h"

#include "foundation/compat/ts_process.h"
#include "foundation/host/host_backend.h"
#include "foundation/text/lines.h"

using tidewall::host::current;

int tsaf_utils::popen(const std::string& cmd, std::list<std::string>& lines, int time_limit) {
    auto r = current().run(cmd, time_limit > 0 ? time_limit : TsProcess::kDefaultTimeLimitS);
    tidewall::text::append_lines(r.out, lines);
    return r.status;
}

int tsaf_utils::execute_command(const std::string& cmd, std::list<std::string>& out, std::string& err, int time_limit) {
    auto r = current().run(cmd, time_limit > 0 ? time_limit : TsProcess::kDefaultTimeLimitS);
    tidewall::text::append_lines(r.out, out);
    err = r.err;
    return r.status;
}
