#ifndef TIDEWALL_FOUNDATION_COMMAND_RUNNER_H
#define TIDEWALL_FOUNDATION_COMMAND_RUNNER_H

#include "foundation/host/host_backend.h"

#include <cstddef>
#include <string>

namespace tidewall::host {

// Runs cmd through /bin/sh -c in a process group of its own, capturing standard
// output and standard error separately. Only the three standard descriptors
// reach the child. With time_limit_s > 0, a command still running then is killed
// with its whole process group and reported as failed (timed_out set).
// At most output_cap bytes of each stream are kept: a command that writes more
// is killed with its process group at that point and reported as failed
// (status -1), and a log line says so.
constexpr size_t kOutputCapBytes = size_t{64} << 20;
command_result run_shell_command(const std::string& cmd, int time_limit_s, size_t output_cap = kOutputCapBytes);

}  // namespace tidewall::host

#endif
