// File checks of tw_storage: plain reads, writes and comparisons, and test
// files of pseudo-random words written and validated.

#include "storage/io/io_internal.h"

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"

#include <climits>

using namespace tidewall::storage::io;

int tw_storage::write_data_to_file(std::string path, void* buf, unsigned len) {
    const char* tag = "tw_storage::write_data_to_file";
    CZuFile f;
    open_or_throw(log_, tag, f, path, kWriteFlags);
    unsigned done = 0;
    bool ok = f.Write(buf, len, &done).IsSuccess() && done == len && f.Sync().IsSuccess();
    if (!ok) log_.logMessage(tag, tidewall::log_level::step, "Failed to write to file [%s]", path.c_str());
    close_or_throw(log_, tag, f, path);
    if (!ok) return -1;
    return len > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(len);
}

int tw_storage::read_data_from_file(std::string path, void* buf, unsigned len) {
    const char* tag = "tw_storage::read_data_from_file";
    CZuFile f;
    open_or_throw(log_, tag, f, path, kReadFlags);
    unsigned done = 0;
    int rc = 0;
    if (f.Read(buf, len, &done).IsFailure()) {
        log_.logMessage(tag, tidewall::log_level::step, "Failed to read from file [%s]", path.c_str());
        rc = -1;
    } else if (done < len) {
        log_.logMessage(tag, tidewall::log_level::step, "File [%s] short read  expected bytes [%u] actual bytes [%u]",
                        path.c_str(), len, done);
        rc = -1;
    }
    close_or_throw(log_, tag, f, path);
    if (rc != 0) return -1;
    return len > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(len);
}

bool tw_storage::compare_data(unsigned* expected, unsigned* actual, unsigned count) {
    const char* tag = "tw_storage::compare_data";
    bool equal = true;
    for (unsigned i = 0; i < count; ++i) {
        if (expected[i] == actual[i]) continue;
        log_.logMessage(tag, tidewall::log_level::step, "@ index [%u] expected value [%u] actual value [%u]", i,
                        expected[i], actual[i]);
        equal = false;
    }
    return equal;
}

int tw_storage::generate_random_file(unsigned count, std::string path, unsigned& key) {
    return generate_random_file(count, std::move(path), key, io_progress());
}

int tw_storage::generate_random_file(unsigned count, std::string path, unsigned& key, const io_progress& progress) {
    const char* tag = "tw_storage::generate_random_file";
    log_.logMessage(tag, tidewall::log_level::step,
                    "File [%s] will be filled with [%u] entries generated from pseudo random number generator",
                    path.c_str(), count);
    bool exists = false;
    if (CZuPath::Exists(path, exists).IsFailure()) {
        log_.logMessage(tag, tidewall::log_level::step, "Failed to check whether the file file [%s] exists",
                        path.c_str());
        return -1;
    }
    if (exists && CZuFile::Delete(path, true).IsFailure()) {
        log_.logMessage(tag, tidewall::log_level::step, "Failed to delete the file [%s]", path.c_str());
        return -1;
    }
    std::string key_text;
    key = tsaf_utils::generate_prg_key(key_text);
    log_.logMessage(tag, tidewall::log_level::step, "PRNG string [%s] key [%#x]", key_text.c_str(), key);
    try {
        long long written = write_stream(log_, path, key, count, progress);
        if (written < 0) return -1;
        // The result is an int: a file of 2 GiB or more reports INT_MAX, not a
        // negative number that callers would take for a failure.
        return written > INT_MAX ? INT_MAX : static_cast<int>(written);
    } catch (const TsException&) {
        log_.logMessage(tag, tidewall::log_level::step, "Failed to write data to file [%s]", path.c_str());
        return -1;
    }
}

int tw_storage::validate_random_file(unsigned count, std::string path, unsigned& key) {
    return validate_random_file(count, std::move(path), key, io_progress());
}

int tw_storage::validate_random_file(unsigned count, std::string path, unsigned& key, const io_progress& progress) {
    const char* tag = "tw_storage::validate_random_file";
    log_.logMessage(tag, tidewall::log_level::step,
                    "File [%s] entries [%u] PRNG key [%u] will be checked for validity of data", path.c_str(), count,
                    key);
    bool exists = false;
    if (CZuPath::Exists(path, exists).IsFailure()) {
        log_.logMessage(tag, tidewall::log_level::step, "Failed to check whether the file file [%s] exists",
                        path.c_str());
        return -1;
    }
    if (!exists) {
        log_.logMessage(tag, tidewall::log_level::step, "File [%s] does not exist", path.c_str());
        return -1;
    }
    try {
        io_failure_.clear();
        int rc = check_stream(log_, path, key, count, progress, io_failure_);
        if (rc < 0) {
            log_.logMessage(tag, tidewall::log_level::step, "Failed to read data from file [%s]", path.c_str());
            return -1;
        }
        if (rc > 0) {
            log_.logMessage(tag, tidewall::log_level::step, "Data validation from file [%s] failed", path.c_str());
            return -1;
        }
        return 0;
    } catch (const TsException&) {
        log_.logMessage(tag, tidewall::log_level::step, "Failed to write data to file [%s]", path.c_str());
        return -1;
    }
}
