// Tuning version 7: multipath devices give up a lost path after a bounded
// number of retries (no_path_retry 4 in the defaults section of
// /etc/multipath.conf), and the network files are copied to the data drives.

#include "tuning/perf_params_versions.h"

#include <tidewall/tw_storage.h>

#include "foundation/compat/ts_process.h"
#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"
#include "tuning/scratch_files.h"

#include <cstring>

namespace {

const char* const kMultipathConf = "/etc/multipath.conf";
const char* const kScratchFile = "multipath.conf";  // in the state directory
const char* const kSetting = "no_path_retry";
const char* const kValue = "4";

// The file's text with the setting as the first line of every defaults
// section (an old setting there is dropped), or a defaults section of its own
// at the end. Empty lines go; a line of blanks leaves its blanks in front of
// the next line.
std::string with_no_path_retry(const std::list<std::string>& lines) {
    std::string text;
    bool in_defaults = false, seen_defaults = false;
    for (const auto& line : lines) {
        std::string t = tsaf_utils::trim(line);
        if (t.empty()) {
            text += line;
        } else if (t.back() == '{') {
            text += line + "\n";
            if (t.compare(0, 8, "defaults") == 0) {
                in_defaults = seen_defaults = true;
                text += std::string("    ") + kSetting + " " + kValue + "\n";
            }
        } else if (t.back() == '}') {
            text += line + "\n";
            in_defaults = false;
        } else if (!(in_defaults && line.find(kSetting) != std::string::npos)) {
            text += line + "\n";
        }
    }
    if (!seen_defaults) text += std::string("defaults {\n\t") + kSetting + " " + kValue + "\n}\n";
    return text;
}

}  // namespace

int tw_perf_params_version_v7::configure() {
    const char* tag = "tw_perf_params_version_v7::configure";
    int rc = update_multipath_config();
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to update multipath config file");
        return rc;
    }
    rc = backup_config_files();
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to backup network configuration files");
        return rc;
    }
    return 0;
}

namespace {
// The shell's status for a command it cannot find.
constexpr int kCommandNotFound = 127;
}  // namespace

int tw_perf_params_version_v7::update_multipath_config() {
    const char* tag = "tw_perf_params_version_v7::update_multipath_config";
    namespace fio = tidewall::file_io;
    std::list<std::string> lines;
    if (tsaf_utils::is_file(kMultipathConf) && tsaf_utils::read_file(kMultipathConf, lines) != 0) {
        // Rewriting from nothing would throw away the whole configuration.
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to read [%s]", kMultipathConf);
        return 1;
    }
    std::string text = with_no_path_retry(lines);

    // The copy is written to the root-only state directory, and the
    // configuration from memory, not read back from the copy.
    int rc = tidewall::tuning::keep_private_copy(kScratchFile, text);
    if (rc == 0) rc = fio::write_atomic(tidewall::host::path(kMultipathConf), text);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Adding name [%s] value = [%s] to [%s] failed", kSetting,
                        kValue, kMultipathConf);
        log_.logMessage(tag, tidewall::log_level::detail, "error [%s]", std::strerror(rc));
        return 1;
    }

    std::string out, err;
    int status = TsProcess::system("multipath", &out, &err, 0, false);
    if (status == kCommandNotFound) {
        // No multipath tool: no multipath daemon either, so nothing to reload;
        // the file is in place for when the tool is installed.
        log_.logMessage(tag, tidewall::log_level::detail, "multipath is not installed; [%s] written, nothing to reload",
                        kMultipathConf);
    } else if (status != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to reload multipath. Error: [%s]",
                        tsaf_utils::trim(err).c_str());
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::detail, "Adding name [%s] value = [%s] to [%s] succeeded", kSetting,
                    kValue, kMultipathConf);
    return 0;
}

int tw_perf_params_version_v7::backup_config_files() {
    const char* tag = "tw_perf_params_version_v7::backup_config_files";
    tw_storage storage;
    if (storage.backup_nwfiles_localnode() != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to backup network configuration files");
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "Network configuration files backed up successfully");
    return 0;
}
