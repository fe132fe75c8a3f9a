#ifndef TIDEWALL_STORAGE_IO_INTERNAL_H
#define TIDEWALL_STORAGE_IO_INTERNAL_H

// The pieces of file I/O verification shared by its files: the streaming
// engine that writes and checks test files, and the scratch directory of the
// file-system check.

#include <tidewall/tw_debug.h>
#include <tidewall/tw_storage.h>

#include "foundation/compat/czu_file.h"

#include <fcntl.h>
#include <memory>
#include <string>

class tw_fs_cleaner;

namespace tidewall::storage::io {

// Flags and mode of the test files: read-write and create (66), rw-r--r-- (420).
constexpr int kWriteFlags = O_RDWR | O_CREAT;
// A test file is made afresh (generate_random_file removes the old one first):
// on a data disk another account may plant a link or file at its name in
// between, which must make the open fail, never be written through.
constexpr int kCreateFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
constexpr int kReadFlags = O_RDONLY;
constexpr unsigned kFileMode = 0644;

// Words of the file-system check's test file.
constexpr unsigned kCheckEntries = 4096;

// check_file_system's scratch directory: "test_dir" in earlier versions, now
// "test_dir.<pid>.<run>", its own for every run; the inner directory keeps the
// old name.
constexpr const char* kScratchPrefix = "test_dir";

// Opens or closes f, or logs under tag and throws.
void open_or_throw(tw_debug& log, const char* tag, CZuFile& f, const std::string& path, int flags);
void close_or_throw(tw_debug& log, const char* tag, CZuFile& f, const std::string& path);

// Writes count words of key's stream to path, a chunk at a time, and flushes
// them to the device. Bytes written, or -1 when a write fails; throws when the
// file cannot be opened or closed.
long long write_stream(tw_debug& log, const std::string& path, unsigned key, unsigned count,
                       const tw_storage::io_progress& progress);

// Reads count words from path and compares them with key's stream. -1 when the
// file cannot be read whole (failure then says why when it is known), 1 when
// words differ, 0 when all match; throws when the file cannot be opened or closed.
int check_stream(tw_debug& log, const std::string& path, unsigned key, unsigned count,
                 const tw_storage::io_progress& progress, std::string& failure);

// A fresh scratch directory name for this run.
std::string scratch_name();

// Removes scratch directories that earlier checks cut short left under mnt_path.
void remove_check_leftovers(tw_debug& log, const std::string& mnt_path);

// What a check made, removed newest first when the check ends, however it ends.
class scratch_cleanup {
public:
    scratch_cleanup();
    ~scratch_cleanup();
    scratch_cleanup(const scratch_cleanup&) = delete;
    scratch_cleanup& operator=(const scratch_cleanup&) = delete;
    // kind: "dir" or "file".
    void add(const std::string& path, const char* kind);
    // Lets go of the entries without removing them: something else does.
    void abandon();

private:
    std::unique_ptr<tw_fs_cleaner> cleaner_;
    int order_ = 0;
};

}  // namespace tidewall::storage::io

#endif
