#ifndef TIDEWALL_FOUNDATION_COMMAND_RUNNER_H
#define TIDEWALL_FOUNDATION_COMMAND_RUNNER_H

#include "foundation/host_backend.h"

#include <string>

namespace tidewall::host {

// Runs cmd through /bin/sh -c in a process group of its own, capturing standard
// output and standard error separately. Only the three standard descriptors
// reach the child. With time_limit_s > 0, a command still running then is killed
// with its whole process group and reported as failed (timed_out set).
command_result run_shell_command(const std::string& cmd, int time_limit_s);

} // namespace tidewall::host

#endif
