#ifndef TIDEWALL_FOUNDATION_CZU_FILE_H
#define TIDEWALL_FOUNDATION_CZU_FILE_H

// File and directory access at system paths (mapped by the host backend).
// Each operation returns a CZuError that callers test for success.

#include <string>

class CZuError {
public:
    CZuError() = default;
    explicit CZuError(int error) : error_(error) {}
    bool IsSuccess() const { return error_ == 0; }
    bool IsFailure() const { return error_ != 0; }
    int GetError() const { return error_; }

private:
    int error_ = 0;
};

class CZuFile {
public:
    CZuFile() = default;
    ~CZuFile();
    CZuFile(const CZuFile&) = delete;
    CZuFile& operator=(const CZuFile&) = delete;

    // flags and mode as open(2) takes them.
    CZuError Open(const std::string& path, int flags, unsigned mode);
    // Reads or writes up to len bytes, looping over short transfers; done tells how many.
    CZuError Read(void* buf, unsigned len, unsigned* done);
    CZuError Write(const void* buf, unsigned len, unsigned* done);
    // Flushes the file's data to its device, so that a write error shows now.
    CZuError Sync();
    // Starts writing len bytes from offset to the device without waiting, so a
    // later Sync has less left to wait for.
    CZuError StartWriteback(unsigned long long offset, unsigned long long len);
    // Drops the file's clean cached pages: the next reads come from the device.
    CZuError DropCache();
    CZuError Close();
    // The open descriptor, -1 when closed (for reads made elsewhere).
    int Descriptor() const { return fd_; }
    static CZuError Delete(const std::string& path, bool unused = false);

private:
    int fd_ = -1;
};

class CZuDirectory {
public:
    // Creates the directory with mode 0755; with `parents` its missing parents too.
    static CZuError Create(const std::string& path, bool parents = false);
    // Removes an empty directory, or with `recursive` the whole tree.
    static CZuError Remove(const std::string& path, bool recursive = false, bool unused = false);
    static CZuError GetSpaceUsage(const std::string& path, unsigned long long* total, unsigned long long* free);
};

class CZuPath {
public:
    static CZuError Exists(const std::string& path, bool& exists);
};

#endif
