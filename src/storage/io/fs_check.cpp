// The file-system check of a mount path, and the I/O test of a gluster
// volume's local bricks: a test file written, read back and compared.

#include "storage/io/io_internal.h"

#include "storage/bounded_read.h"

#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"

#include <list>

using namespace tidewall::storage::io;

int tw_storage::check_file_system(std::string mnt_path, bool check_mounted) {
    const char* tag = "tw_storage::check_file_system";
    if (check_mounted) {
        std::string dev, fstype;
        std::list<std::string> options;
        if (is_mounted(mnt_path, dev, fstype, options) != 1) {
            log_.logMessage(tag, tidewall::log_level::step, "Failed to find mount path [%s]", mnt_path.c_str());
            return -1;
        }
    }
    remove_check_leftovers(log_, mnt_path);
    // Made before anything is created: whatever was registered goes when this
    // check ends, however it ends.
    scratch_cleanup made;
    std::string outer = mnt_path + "/" + scratch_name();
    std::string inner = outer + "/" + kScratchPrefix;
    std::string file = inner + "/test_file.txt";
    for (const std::string& dir : {outer, inner}) {
        if (CZuDirectory::Create(dir).IsFailure()) {
            log_.logMessage(tag, tidewall::log_level::step, "Failed to create directory [%s]", dir.c_str());
            return -1;
        }
        made.add(dir, "dir");
    }
    unsigned key = 0;
    try {
        if (generate_random_file(kCheckEntries, file, key) < 0) {
            log_.logMessage(tag, tidewall::log_level::step, "Failed to generate file [%s] with random data",
                            file.c_str());
            return -1;
        }
        made.add(file, "file");
        if (validate_random_file(kCheckEntries, file, key) < 0) {
            log_.logMessage(tag, tidewall::log_level::step, "Failed to validate file [%s] RPNG [%#x]", file.c_str(),
                            key);
            if (!io_failure_.empty() && io_failure_.rfind("read did not complete", 0) == 0) {
                // The stuck read holds the file's lock: removing it here would
                // wait for the disk. A process of its own removes the tree once
                // the disk answers.
                tidewall::storage::remove_in_background(
                    {tidewall::host::path(file), tidewall::host::path(inner), tidewall::host::path(outer)});
                made.abandon();
            }
            return -1;
        }
        log_.logMessage(tag, tidewall::log_level::step, "Validated file [%s] PRNG [%#x]", file.c_str(), key);
        return 0;
    } catch (const TsException&) {
        log_.logMessage(tag, tidewall::log_level::step, "Failed to perform I/O test on mount path [%s]",
                        mnt_path.c_str());
        return -1;
    }
}

int tw_storage::perform_io_test(std::string volume, unsigned count, std::list<io_test_info>& results) {
    const char* tag = "tw_storage::perform_io_test";
    log_.logMessage(tag, tidewall::log_level::step,
                    "Will perform I/O test on mountpaths which are part of gluster volume [%s]", volume.c_str());
    results.clear();
    std::list<std::string> paths;
    get_mount_path_list(volume, paths);
    for (const auto& path : paths) {
        io_test_info info;
        info.path = path;
        // Beside the brick directory, on the same disk: never inside the brick.
        std::string file = path + "/" + ".." + "/" + "io_test.txt";
        try {
            unsigned key = 0;
            if (generate_random_file(count, file, key) < 0) {
                log_.logMessage(tag, tidewall::log_level::step, "Failed to generate file [%s] with random data",
                                file.c_str());
                info.result = 0;
            } else {
                info.write_requests = count;
                info.writes_completed = count;
                log_.logMessage(tag, tidewall::log_level::step, "Generated data file [%s] with PRNG [%#x]",
                                file.c_str(), key);
                if (validate_random_file(count, file, key) < 0) {
                    log_.logMessage(tag, tidewall::log_level::step, "Failed to validate file [%s] RPNG [%#x]",
                                    file.c_str(), key);
                    info.result = 0;
                } else {
                    info.read_requests = count;
                    info.reads_completed = count;
                    log_.logMessage(tag, tidewall::log_level::step, "Validated file [%s] PRNG [%#x]", file.c_str(),
                                    key);
                    info.result = 1;
                }
            }
        } catch (const TsException&) {
            log_.logMessage(tag, tidewall::log_level::step,
                            "Failed to perform I/O test on mount paths [%s] inside volume [%s]", path.c_str(),
                            volume.c_str());
            info.result = 0;
        }
        results.push_back(info);
    }
    return 0;
}
