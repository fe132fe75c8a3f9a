// The storage configuration as a JSON document: writing the layout out, and
// reading a caller's document back into records, stopping at the first part
// that is missing or of the wrong kind.

#include <tidewall/tw_md_storage_config.h>

#include "foundation/log/log_level.h"
#include <tidewall/twjson.h>

#include <limits>

using twjson::Array;
using twjson::Object;

namespace {

// Numbers are read as long doubles and truncated toward zero; values outside
// the field's range are held at its bounds rather than wrapped.
template <typename T> T to_unsigned(long double v) {
    if (!(v > 0)) return 0;
    if (v >= static_cast<long double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(v);
}

// An array element as an object. The lookup reports an element of another kind
// as a kind_error; the element then counts as one without its fields.
Object* element_object(Array& list, std::size_t index) {
    try {
        return &list.get<Object>(index);
    } catch (const twjson::kind_error&) {
        return nullptr;
    }
}

bool has_string(const Object* o, const char* key) { return o && o->has<twjson::String>(key); }
bool has_number(const Object* o, const char* key) { return o && o->has<twjson::Number>(key); }
bool has_bool(const Object* o, const char* key) { return o && o->has<twjson::Boolean>(key); }

}  // namespace

void tw_md_storage_config::create_json(Object& doc) const {
    Object node;
    node << "platform" << get_platform_type() << "type" << get_type();

    Array disks;
    for (const auto& d : disk_list_) {
        Object o;
        o << "name" << d.get_name();
        disks << std::move(o);
    }

    Array pvs;
    for (const auto& pv : vg_.get_pv_list()) {
        Object o;
        o << "name" << pv.get_name();
        pvs << std::move(o);
    }
    Array lvs;
    for (const auto& lv : vg_.get_lv_list()) {
        Object o;
        o << "name" << lv.get_name() << "minPercentage" << lv.get_min_percentage() << "maxSize" << lv.get_max_size()
          << "thinVolume" << lv.is_thin_volume();
        lvs << std::move(o);
    }
    Object vg;
    vg << "name" << vg_.get_name() << "extentSize" << vg_.get_extent_size() << "rsvdPercentage"
       << vg_.get_rsvd_percentage_cap() << "physicalVolume" << std::move(pvs) << "logicalVolume" << std::move(lvs);

    Array fss;
    for (const auto& fs : fs_list_) {
        Object o;
        o << "blkDevice" << fs.get_blk_device() << "fsType" << fs.get_fs_type();
        fss << std::move(o);
    }
    Array mounts;
    for (const auto& m : fs_mount_list_) {
        Object o;
        o << "blkDevice" << m.get_blk_device() << "fsType" << m.get_fs_type() << "mntPath" << m.get_mnt_path()
          << "fsArgs" << m.get_fs_args() << "fsFreq" << m.get_fs_freq() << "fsPassno" << m.get_fs_passno();
        mounts << std::move(o);
    }

    doc << "node" << std::move(node) << "disk" << std::move(disks) << "volumeGroup" << std::move(vg) << "fileSystem"
        << std::move(fss) << "fileSystemMount" << std::move(mounts);
}

int tw_md_storage_config::get_config_data(std::string& config_data) {
    Object doc;
    create_json(doc);
    config_data = doc.json();
    return 0;
}

int tw_md_storage_config::read_config_data(const std::string& config_data) {
    const char* tag = "tw_md_storage_config::read_config_data";
    failures_.clear();
    Object doc;
    if (!doc.parse(config_data)) {
        fail(tag, "parsing storage config data failed");
        return 1;
    }
    if (int rc = read_disk_config(doc)) {
        fail(tag, "reading disk config data failed");
        return rc;
    }
    if (read_vg_config(doc)) {
        fail(tag, "reading vg config data failed");
        return 1;
    }
    if (read_fs_config(doc)) {
        fail(tag, "reading fs config data failed");
        return 1;
    }
    if (read_fs_mount_config(doc)) {
        fail(tag, "reading fs mount config data failed");
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::detail,
                    "read [%zu] disks, volume group [%s] with [%zu] logical volumes, [%zu] mounts", disk_list_.size(),
                    vg_.get_name().c_str(), vg_.get_lv_list().size(), fs_mount_list_.size());
    return 0;
}

int tw_md_storage_config::read_disk_config(Object& doc) {
    const char* tag = "tw_md_storage_config::read_disk_config";
    if (!doc.has<Array>("disk")) {
        fail(tag, "disk config data missing");
        return 1;
    }
    Array& list = doc.get<Array>("disk");
    for (std::size_t i = 0; i < list.size(); ++i) {
        Object* e = element_object(list, i);
        if (!has_string(e, "name")) {
            fail(tag, "disk config name missing");
            return 1;
        }
        tw_disk disk;
        disk.set_name(e->get<twjson::String>("name"));
        add_disk(disk);
    }
    return 0;
}

int tw_md_storage_config::read_vg_config(Object& doc) {
    const char* tag = "tw_md_storage_config::read_vg_config";
    if (!doc.has<Object>("volumeGroup")) {
        fail(tag, "volume group config data missing");
        return 1;
    }
    Object& o = doc.get<Object>("volumeGroup");
    if (!o.has<twjson::String>("name")) {
        fail(tag, "vg config name missing");
        return 1;
    }
    if (!o.has<twjson::Number>("extentSize")) {
        fail(tag, "vg config extentSize missing");
        return 1;
    }
    if (!o.has<twjson::Number>("rsvdPercentage")) {
        fail(tag, "vg config rsvdPercentage missing");
        return 1;
    }
    tw_vg vg;
    vg.set_name(o.get<twjson::String>("name"));
    vg.set_extent_size(to_unsigned<unsigned long long>(o.get<twjson::Number>("extentSize")));
    unsigned reserve = to_unsigned<unsigned>(o.get<twjson::Number>("rsvdPercentage"));
    vg.set_rsvd_percentage_cap(reserve > 99 ? 0 : reserve);
    if (read_pv_config(o, vg)) {
        fail(tag, "reading pv config data failed");
        return 1;
    }
    if (read_lv_config(o, vg)) {
        fail(tag, "reading lv config data failed");
        return 1;
    }
    add_vg(vg);
    return 0;
}

int tw_md_storage_config::read_pv_config(Object& vg_doc, tw_vg& vg) {
    const char* tag = "tw_md_storage_config::read_pv_config";
    if (!vg_doc.has<Array>("physicalVolume")) {
        fail(tag, "Physical Volume config data missing");
        return 1;
    }
    Array& list = vg_doc.get<Array>("physicalVolume");
    for (std::size_t i = 0; i < list.size(); ++i) {
        Object* e = element_object(list, i);
        if (!has_string(e, "name")) {
            fail(tag, "pv config name missing");
            return 1;
        }
        tw_pv pv;
        pv.set_name(e->get<twjson::String>("name"));
        vg.add_pv(pv);
    }
    return 0;
}

int tw_md_storage_config::read_lv_config(Object& vg_doc, tw_vg& vg) {
    const char* tag = "tw_md_storage_config::read_lv_config";
    if (!vg_doc.has<Array>("logicalVolume")) {
        fail(tag, "Logical Volume config data missing");
        return 1;
    }
    Array& list = vg_doc.get<Array>("logicalVolume");
    for (std::size_t i = 0; i < list.size(); ++i) {
        Object* e = element_object(list, i);
        const char* missing = !has_string(e, "name")            ? "lv config name missing"
                              : !has_bool(e, "thinVolume")      ? "lv config thin volume  missing"
                              : !has_number(e, "minPercentage") ? "lv config min percentage missing"
                              : !has_number(e, "maxSize")       ? "lv config max size  missing"
                                                                : nullptr;
        if (missing) {
            fail(tag, missing);
            return 1;
        }
        tw_lv lv;
        lv.set_name(e->get<twjson::String>("name"));
        lv.set_thin_volume(e->get<twjson::Boolean>("thinVolume"));
        lv.set_min_percentage(to_unsigned<unsigned long long>(e->get<twjson::Number>("minPercentage")));
        lv.set_max_size(to_unsigned<unsigned long long>(e->get<twjson::Number>("maxSize")));
        vg.add_lv(lv);
    }
    return 0;
}

int tw_md_storage_config::read_fs_config(Object& doc) {
    const char* tag = "tw_md_storage_config::read_fs_config";
    if (!doc.has<Array>("fileSystem")) {
        fail(tag, "fs config data missing");
        return 1;
    }
    Array& list = doc.get<Array>("fileSystem");
    for (std::size_t i = 0; i < list.size(); ++i) {
        Object* e = element_object(list, i);
        const char* missing = !has_string(e, "blkDevice") ? "fs config blk Device missing"
                              : !has_string(e, "fsType")  ? "fs configfs type  missing"
                                                          : nullptr;
        if (missing) {
            fail(tag, missing);
            return 1;
        }
        tw_fs fs;
        fs.set_blk_device(e->get<twjson::String>("blkDevice"));
        fs.set_fs_type(e->get<twjson::String>("fsType"));
        add_fs(fs);
    }
    return 0;
}

int tw_md_storage_config::read_fs_mount_config(Object& doc) {
    const char* tag = "tw_md_storage_config::read_fs_mount_config";
    if (!doc.has<Array>("fileSystemMount")) {
        fail(tag, "fs mount config data missing");
        return 1;
    }
    Array& list = doc.get<Array>("fileSystemMount");
    for (std::size_t i = 0; i < list.size(); ++i) {
        Object* e = element_object(list, i);
        const char* missing = !has_string(e, "blkDevice")  ? "fs mount config name missing"
                              : !has_string(e, "mntPath")  ? "fs mount config mnt path missing"
                              : !has_string(e, "fsType")   ? "fs mount config fs type missing"
                              : !has_string(e, "fsArgs")   ? "fs mount config fs args missing"
                              : !has_number(e, "fsFreq")   ? "fs mount config fs freq  missing"
                              : !has_number(e, "fsPassno") ? "fs mount config fs passno missing"
                                                           : nullptr;
        if (missing) {
            fail(tag, missing);
            return 1;
        }
        tw_fs_mount m;
        m.set_blk_device(e->get<twjson::String>("blkDevice"));
        m.set_mnt_path(e->get<twjson::String>("mntPath"));
        m.set_fs_type(e->get<twjson::String>("fsType"));
        m.set_fs_args(e->get<twjson::String>("fsArgs"));
        m.set_fs_freq(to_unsigned<unsigned>(e->get<twjson::Number>("fsFreq")));
        m.set_fs_passno(to_unsigned<unsigned>(e->get<twjson::Number>("fsPassno")));
        add_fs_mount(m);
    }
    return 0;
}
