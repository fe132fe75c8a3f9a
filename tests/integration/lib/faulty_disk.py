#!/usr/bin/python3
"""A disk that fails on demand, for the integration tier.

faulty_disk.py BACKING MOUNTPOINT CONTROL

Serves MOUNTPOINT/disk, a file of BACKING's size whose reads and writes go to
BACKING, through FUSE; attach a loop device to it (losetup -f --show
MOUNTPOINT/disk) to get a block device whose faults the test chooses. CONTROL
is read again at every request, so a test changes the faults while the disk is
in use. One rule a line, byte offsets:

    write_eio START END   writes touching [START, END) fail with EIO
    read_eio START END    reads touching [START, END) fail with EIO
    read_delay SECONDS    every read waits that long first
    read_hang             every read waits until this line is gone

Runs in the foreground until unmounted (fusermount3 -u, or umount).
"""
import errno
import os
import sys
import time

from fusepy import FUSE, FuseOSError, Operations


def rules(control):
    try:
        with open(control) as f:
            return [line.split() for line in f if line.strip()]
    except OSError:
        return []


def touches(rule, offset, size):
    start, end = int(rule[1]), int(rule[2])
    return offset < end and offset + size > start


class FaultyDisk(Operations):
    def __init__(self, backing, control):
        self.backing = backing
        self.control = control
        self.fd = os.open(backing, os.O_RDWR)

    def getattr(self, path, fh=None):
        if path == "/":
            return {"st_mode": 0o40755, "st_nlink": 2}
        if path != "/disk":
            raise FuseOSError(errno.ENOENT)
        st = os.fstat(self.fd)
        return {"st_mode": 0o100600, "st_nlink": 1, "st_size": st.st_size,
                "st_mtime": st.st_mtime, "st_atime": st.st_atime, "st_ctime": st.st_ctime}

    def readdir(self, path, fh):
        return [".", "..", "disk"]

    def open(self, path, flags):
        if path != "/disk":
            raise FuseOSError(errno.ENOENT)
        return 0

    def read(self, path, size, offset, fh):
        while True:
            rs = rules(self.control)
            if not any(r[0] == "read_hang" for r in rs):
                break
            time.sleep(0.1)
        for r in rs:
            if r[0] == "read_delay":
                time.sleep(float(r[1]))
        if any(r[0] == "read_eio" and touches(r, offset, size) for r in rs):
            raise FuseOSError(errno.EIO)
        return os.pread(self.fd, size, offset)

    def write(self, path, data, offset, fh):
        if any(r[0] == "write_eio" and touches(r, offset, len(data)) for r in rules(self.control)):
            raise FuseOSError(errno.EIO)
        return os.pwrite(self.fd, data, offset)

    def truncate(self, path, length, fh=None):
        raise FuseOSError(errno.EPERM)

    def fsync(self, path, datasync, fh):
        os.fsync(self.fd)
        return 0

    def flush(self, path, fh):
        return 0


def main():
    if len(sys.argv) != 4:
        sys.stderr.write("usage: faulty_disk.py BACKING MOUNTPOINT CONTROL\n")
        return 2
    backing, mountpoint, control = sys.argv[1:]
    FUSE(FaultyDisk(backing, control), mountpoint, foreground=True, direct_io=True, nothreads=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
