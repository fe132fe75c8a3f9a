// Setting one line of a configuration file (sysctl.conf, lvm.conf, modprobe.d,
// ifcfg files, abrt), the way every tuning version edits files.

#include <tidewall/tw_perf_params_config.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"
#include "foundation/text/lines.h"
#include "tuning/scratch_files.h"

#include <cstring>
#include <sys/stat.h>

namespace {

// In the state directory, as every scratch file of tuning.
const char* const kScratchFile = "perf.conf";

std::string backup_name(const std::string& path) {
    size_t slash = path.rfind('/');
    return (slash == std::string::npos ? path : path.substr(slash + 1)) + ".bak";
}

}  // namespace

int tw_perf_params_config::update_conf_file(const std::string& path, const std::string& name, const std::string& line,
                                            bool append) {
    const char* tag = "tw_perf_params_config::update_conf_file";
    namespace fio = tidewall::file_io;
    if (name.empty()) {
        // Every line starts with the empty text: it would overwrite the whole file.
        log_.logMessage(tag, tidewall::log_level::failure, "No name given for [%s]", path.c_str());
        return 1;
    }

    std::string old_text;
    bool exists = tsaf_utils::is_file(path);
    if (exists) {
        // A file that exists but cannot be read must not be replaced by the one
        // line this call adds: everything else in it would be lost.
        int rc = fio::read_all(tidewall::host::path(path), old_text);
        if (rc != 0) {
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to read [%s] error [%s]", path.c_str(),
                            std::strerror(rc));
            return 1;
        }
        // The copy is private (0600) whatever the file's own mode: it may be a
        // copy of a file only root can read.
        std::string bak = backup_name(path);
        rc = tidewall::tuning::keep_private_copy(bak, old_text);
        if (rc != 0)
            log_.logMessage(tag, tidewall::log_level::failure, "Failed to keep a copy in [%s] error [%s]",
                            tidewall::tuning::private_copy_path(bak).c_str(), std::strerror(rc));
    }

    std::list<std::string> lines;
    tidewall::text::append_lines(old_text, lines);

    std::string text;
    bool found = false;
    for (const auto& l : lines) {
        size_t indent = l.find_first_not_of(" \t");
        if (indent != std::string::npos && l.compare(indent, name.size(), name) == 0) {
            text += l.substr(0, indent) + line + "\n";
            found = true;
        } else {
            text += l + "\n";
        }
    }
    if (!found && append) text += line + "\n";

    if (!exists && text.empty()) {
        // Nothing to set and nothing to keep: no empty file where there was none.
        log_.logMessage(tag, tidewall::log_level::detail, "name [%s] not in [%s], which does not exist; left as it is",
                        name.c_str(), path.c_str());
        return 0;
    }

    // The scratch copy is only a record of what was written: the file itself is
    // written from memory, never read back from the copy.
    int rc = tidewall::tuning::keep_private_copy(kScratchFile, text);
    if (rc != 0)
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to write [%s] error [%s]",
                        tidewall::tuning::private_copy_path(kScratchFile).c_str(), std::strerror(rc));

    rc = fio::write_atomic(tidewall::host::path(path), text);
    if (rc != 0) {
        log_.logMessage(tag, tidewall::log_level::failure, "Failed to replace [%s] error [%s]", path.c_str(),
                        std::strerror(rc));
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::failure, "name [%s]  value = [%s] succeeded", name.c_str(), line.c_str());
    return 0;
}
