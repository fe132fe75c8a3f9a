#include "foundation/blkdev/blkdev_probe.h"

#include <blkid/blkid.h>

#include <cerrno>
#include <cstring>

namespace tidewall::blkdev {

namespace {

std::string lookup(blkid_probe pr, const char* name) {
    const char* data = nullptr;
    size_t len = 0;
    if (blkid_probe_lookup_value(pr, name, &data, &len) != 0 || !data) return "";
    // libblkid counts the terminating zero in len.
    return std::string(data, strnlen(data, len));
}

// Owns the probe for the length of one call.
struct probe_handle {
    blkid_probe pr = nullptr;
    ~probe_handle() {
        if (pr) blkid_free_probe(pr);
    }
};

}  // namespace

probe_result probe_signatures(const std::string& path) {
    probe_result r;
    probe_handle h;
    errno = 0;
    h.pr = blkid_new_probe_from_filename(path.c_str());
    if (!h.pr) {
        r.what = probe_result::failed;
        r.error = errno ? errno : EIO;
        return r;
    }
    blkid_probe_enable_superblocks(h.pr, 1);
    blkid_probe_set_superblocks_flags(h.pr, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_USAGE | BLKID_SUBLKS_UUID |
                                                BLKID_SUBLKS_BADCSUM);
    blkid_probe_enable_partitions(h.pr, 1);
    blkid_probe_set_partitions_flags(h.pr, BLKID_PARTS_ENTRY_DETAILS);

    errno = 0;
    int rc = blkid_do_safeprobe(h.pr);
    if (rc == 1) {
        r.what = probe_result::nothing;
    } else if (rc == 0) {
        r.what = probe_result::found;
        r.type = lookup(h.pr, "TYPE");
        r.usage = lookup(h.pr, "USAGE");
        r.uuid = lookup(h.pr, "UUID");
        r.pttype = lookup(h.pr, "PTTYPE");
        r.part_entry_type = lookup(h.pr, "PART_ENTRY_TYPE");
        // A partition's own entry alone (no superblock, no table of its own)
        // is no signature on the device itself.
        if (r.type.empty() && r.pttype.empty() && !r.part_entry_type.empty()) r.what = probe_result::nothing;
    } else if (rc == -2) {
        r.what = probe_result::ambivalent;
    } else {
        r.what = probe_result::failed;
        r.error = errno ? errno : EIO;
    }
    return r;
}

std::string describe(const probe_result& r) {
    switch (r.what) {
    case probe_result::nothing: return "no signature";
    case probe_result::found:
        if (!r.type.empty()) {
            if (r.usage == "filesystem") return "a " + r.type + " file system signature";
            return "a " + r.type + " signature";
        }
        if (!r.pttype.empty()) return "a " + r.pttype + " partition table";
        return "an unnamed signature";
    case probe_result::ambivalent: return "more than one signature";
    case probe_result::failed: break;
    }
    return std::string("no answer from libblkid (") + std::strerror(r.error) + ")";
}

}  // namespace tidewall::blkdev
