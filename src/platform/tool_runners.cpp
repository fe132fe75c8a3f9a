// The five tool runners of the inventory, and the two IPMI lookups every other
// reader builds on: a sensor's entity ID and the processor temperature map.

#include "platform/tool_runners.h"

#include <tidewall/tw_platform.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/node_lock.h"
#include "foundation/host/shell_quote.h"
#include "foundation/host/sync.h"
#include "foundation/host/time_limits.h"
#include "foundation/log/log_level.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kTimeLimit = tidewall::time_limits::kDefaultS;

// Steps shared by every runner once its command line is built and logged.
int run_logged(tw_debug& log, const char* tag, const std::string& cmd, std::list<std::string>& out,
               const char* failure_fmt, const char* header_fmt) {
    int status = tsaf_utils::popen(cmd, out, kTimeLimit);
    if (status != 0) log.logMessage(tag, tidewall::log_level::failure, failure_fmt, cmd.c_str(), status);
    // Dumps can be long: build none of them unless they will be written.
    if (log.getDebugLevel() > 2) {
        log.logMessage(tag, tidewall::log_level::dump, header_fmt, cmd.c_str());
        for (const auto& line : out) log.logMessage(tag, tidewall::log_level::dump, "%s", line.c_str());
    }
    return status;
}

// The BMC password for ipmitool -f: a 0600 file of its own in the root-only
// state directory, removed when the object ends. On a command line (-P) the
// password would be in /proc/<pid>/cmdline for every account to read.
class password_file {
public:
    explicit password_file(const std::string& password) {
        static std::atomic<unsigned> serial{0};
        std::string dir;
        if ((error_ = tidewall::locks::state_directory(dir)) != 0) return;
        std::string name = "ipmi-password." + std::to_string(::getpid()) + "." + std::to_string(++serial);
        system_path_ = "/var/lib/tidewall/" + name;
        mapped_ = dir + "/" + name;
        int fd = ::open(mapped_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) {
            // Left by an earlier process of the same pid; the directory is root's alone.
            ::unlink(mapped_.c_str());
            fd = ::open(mapped_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        }
        if (fd < 0) {
            error_ = errno;
            return;
        }
        made_ = true;
        error_ = tidewall::locks::safe_private_file(fd) ? 0 : EPERM;
        size_t done = 0;
        while (error_ == 0 && done < password.size()) {
            ssize_t n = ::write(fd, password.data() + done, password.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0)
                error_ = errno;
            else
                done += static_cast<size_t>(n);
        }
        if (::close(fd) != 0 && error_ == 0) error_ = errno;
    }
    ~password_file() {
        if (made_) ::unlink(mapped_.c_str());
    }
    password_file(const password_file&) = delete;
    password_file& operator=(const password_file&) = delete;
    int error() const { return error_; }
    const std::string& path() const { return system_path_; }

private:
    std::string system_path_, mapped_;
    bool made_ = false;
    int error_ = 0;
};

}  // namespace

int run_dmidecode(tw_debug& log, std::string args, std::list<std::string>& out) {
    const char* tag = "run_dmidecode";
    std::string cmd = "dmidecode " + args;
    log.logMessage(tag, tidewall::log_level::trace, "DebugLow dmidecode command - [%s]", cmd.c_str());
    return run_logged(log, tag, cmd, out, "Failed to run dmidecode command - [%s] Error [%d]",
                      "Output of dmidecode cmd - [%s]");
}

int run_ipmitool(tw_debug& log, std::string args, std::list<std::string>& out, bool remote, std::string host,
                 std::string user, std::string password, int retry_count) {
    const char* tag = "run_ipmitool";
    std::string cmd = "ipmitool ";
    std::unique_ptr<password_file> secret;
    if (remote) {
        secret = std::make_unique<password_file>(password);
        if (secret->error() != 0) {
            log.logMessage(tag, tidewall::log_level::failure,
                           "Failed to keep the BMC password for ipmitool in [%s] error [%s]", secret->path().c_str(),
                           std::strerror(secret->error()));
            return -1;
        }
        // Remote: a blank after the password file, or it runs into the arguments.
        cmd += " -I lanplus -H " + tidewall::shell_quote(host) + " -U " + tidewall::shell_quote(user) + " -f " +
               tidewall::shell_quote(secret->path()) + " ";
    }
    cmd += args;
    log.logMessage(tag, tidewall::log_level::trace, "ipmitool command - [%s] retry_count=[%d]", cmd.c_str(),
                   retry_count);

    int attempts_left = retry_count_get(retry_count, 10);
    const size_t kept = out.size();
    int status;
    while (true) {
        status = run_logged(log, tag, cmd, out, "Failed to run ipmitool command - [%s] Error [%d]",
                            "Output of ipmitool cmd - [%s]");
        if (status == 0 || attempts_left <= 0) break;
        ZUSLEEP_InTeRnAl(100);
        --attempts_left;
        // What a failed attempt printed is no part of the answer: a retry that
        // succeeds must not hand its caller the failed run's lines as well.
        while (out.size() > kept) out.pop_back();
    }
    return status;
}

int run_amcli(tw_debug& log, std::string args, std::list<std::string>& out) {
    const char* tag = "run_amcli";
    std::string cmd = "amCLI " + args;
    log.logMessage(tag, tidewall::log_level::trace, "amcli command - [%s]", cmd.c_str());
    return run_logged(log, tag, cmd, out, "Failed to run amcli command - [%s] Error [%d]",
                      "Output of amcli cmd - [%s]");
}

int run_megacli(tw_debug& log, std::string args, std::list<std::string>& out) {
    const char* tag = "run_megacli";
    std::string cmd = "/opt/MegaRAID/MegaCli/MegaCli64 " + args;
    log.logMessage(tag, tidewall::log_level::trace, "MegaCli64 command - [%s]", cmd.c_str());
    return run_logged(log, tag, cmd, out, "Failed to run MegaCli64 command - [%s] Error [%d]",
                      "Output of MegaCli64 cmd - [%s]");
}

int run_hpcli(tw_debug& log, std::string args, std::list<std::string>& out) {
    const char* tag = "run_hpcli";
    if (tsaf_utils::check_rpm("ssacli") != 0) {
        log.logMessage(tag, tidewall::log_level::failure, "HP CLI binaries missing. Cannot run command [%s]",
                       args.c_str());
        return -1;
    }
    std::string cmd = "ssacli " + args;
    log.logMessage(tag, tidewall::log_level::trace, "HP CLI command - [%s]", cmd.c_str());
    return run_logged(log, tag, cmd, out, "Failed to run HP CLI command - [%s] Error [%d]",
                      "Output of hp cli cmd - [%s]");
}

std::string ipmi_quote_sensor(const std::string& name) {
    // Sensor names come from the BMC. Inside double quotes the shell still
    // expands $, ` and \ (and a " ends the quote), so such a name goes in single
    // quotes instead; every ordinary name keeps the double-quoted form.
    if (name.find_first_of("\"$`\\") == std::string::npos) return "\"" + name + "\"";
    return tidewall::shell_quote(name);
}

std::string double_quoted_arg(const std::string& value) {
    if (value.find_first_of("\"$`\\") == std::string::npos) return "\"" + value + "\"";
    return tidewall::shell_quote(value);
}

int ipmi_get_entityid(tw_debug& log, std::string sensor_name, std::string& entity_id) {
    const char* tag = "ipmi_get_entityid";
    std::list<std::string> out;
    int status = run_ipmitool_local(log, "sdr get " + ipmi_quote_sensor(sensor_name), out, 2);
    if (status != 0 || out.empty()) return -1;

    entity_id.clear();
    for (const auto& line : out) {
        if (line.find("Entity ID") == std::string::npos) continue;
        std::string name, value;
        if (tsaf_utils::get_name_value_pair(line, name, value) != 0) {
            log.logMessage(tag, tidewall::log_level::failure, "Failed to extract Entity ID from string: %s",
                           line.c_str());
            return -1;
        }
        // "Entity ID : 10.1 (Power Supply)": the value starts with a blank.
        value = tsaf_utils::trim(value);
        entity_id = value.substr(0, value.find_first_not_of("0123456789."));
        break;
    }
    if (entity_id.empty()) {
        log.logMessage(tag, tidewall::log_level::failure, "Failed to obtain Entity ID for name [%s]",
                       sensor_name.c_str());
        return -1;
    }
    return 0;
}

int proc_temp_map_init(tw_debug& log, std::map<int, unsigned int>& temps) {
    const char* tag = "proc_temp_map_init";
    temps.clear();
    int count = 0;
    std::list<std::string> out;
    int status = run_ipmitool_local(log, "sdr type temperature | egrep \"65\\.|3\\.\"", out, 2);
    if (status != 0 || out.empty()) return -1;

    for (const auto& line : out) {
        std::vector<std::string> fields;
        tsaf_utils::tokenize(line.c_str(), "|", fields);
        if (fields.size() < 4) {
            log.logMessage(tag, tidewall::log_level::trace, "Unexpected output line : %s", line.c_str());
            continue;
        }
        // Entity 3 is a processor; 65 the processor module some BMCs report.
        std::string entity = tsaf_utils::trim(fields[3]);
        if (entity.compare(0, 2, "3.") != 0 && entity.compare(0, 3, "65.") != 0) continue;
        if (fields.size() >= 5) {
            std::string reading = tsaf_utils::trim(fields[4]);
            std::string digits = reading.substr(0, reading.find_first_not_of("0123456789"));
            ++count;
            temps[count] = tsaf_utils::string_to_uint(digits);
        } else {
            log.logMessage(tag, tidewall::log_level::trace,
                           "Temperature value unavailable. Setting it to 0. Output string [%s]", line.c_str());
            ++count;
            temps[count] = 0;
        }
    }
    return count;
}
