// twctl metadata layout: the default metadata storage document for this node.
// twctl metadata check: reads a layout document the way provisioning will and
// says what is wrong with it, or what it would build.
// twctl metadata configure: builds the metadata storage from a document, after
// tearing down the earlier one.
// twctl metadata unconfigure: tears down the recorded metadata storage.
// twctl metadata status: the group, its volumes and mounts as LVM and the
// mount table see them now.

#include "cli.h"

#include <tidewall/tw_dm_names.h>

#include <tidewall/tw_fsm.h>
#include <tidewall/tw_lvm.h>
#include <tidewall/tw_md_storage_config.h>
#include <tidewall/tw_resource_mgr.h>
#include <tidewall/twjson.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

namespace {

// What each refusal of the reader means, for the person who edits the document.
const std::map<std::string, const char*> kExplanations = {
    {"disk config data missing", "there is no array \"disk\" at the top level"},
    {"disk config name missing", "an element of \"disk\" is not an object with a string \"name\""},
    {"volume group config data missing", "there is no object \"volumeGroup\" at the top level"},
    {"vg config name missing", "\"volumeGroup\" has no string \"name\""},
    {"vg config extentSize missing", "\"volumeGroup\" has no number \"extentSize\""},
    {"vg config rsvdPercentage missing", "\"volumeGroup\" has no number \"rsvdPercentage\""},
    {"Physical Volume config data missing", "\"volumeGroup\" has no array \"physicalVolume\""},
    {"pv config name missing", "an element of \"physicalVolume\" is not an object with a string \"name\""},
    {"Logical Volume config data missing", "\"volumeGroup\" has no array \"logicalVolume\""},
    {"lv config name missing", "an element of \"logicalVolume\" is not an object with a string \"name\""},
    {"lv config thin volume  missing", "a logical volume has no true/false \"thinVolume\""},
    {"lv config min percentage missing", "a logical volume has no number \"minPercentage\""},
    {"lv config max size  missing", "a logical volume has no number \"maxSize\""},
    {"fs config data missing", "there is no array \"fileSystem\" at the top level"},
    {"fs config blk Device missing", "an element of \"fileSystem\" is not an object with a string \"blkDevice\""},
    {"fs configfs type  missing", "a file system has no string \"fsType\""},
    {"fs mount config data missing", "there is no array \"fileSystemMount\" at the top level"},
    {"fs mount config name missing", "an element of \"fileSystemMount\" is not an object with a string \"blkDevice\""},
    {"fs mount config mnt path missing", "a mount has no string \"mntPath\""},
    {"fs mount config fs type missing", "a mount has no string \"fsType\""},
    {"fs mount config fs args missing", "a mount has no string \"fsArgs\""},
    {"fs mount config fs freq  missing", "a mount has no number \"fsFreq\""},
    {"fs mount config fs passno missing", "a mount has no number \"fsPassno\""},
};

std::string joined(const std::list<std::string>& items, const char* sep) {
    std::string out;
    for (const auto& s : items) out += (out.empty() ? "" : sep) + s;
    return out;
}

int layout(const std::string& node_type, const std::list<std::string>& disks) {
    tw_md_storage_config config;
    if (config.init(node_type) != 0) {
        std::fprintf(stderr, "twctl metadata layout: %s\n", joined(config.get_failures(), "; ").c_str());
        if (node_type.empty()) std::fprintf(stderr, "  (without --node-type the node type comes from the registry)\n");
        return 1;
    }
    if (config.create_config_data(disks) != 0) {
        std::fprintf(stderr, "twctl metadata layout: %s\n", joined(config.get_failures(), "; ").c_str());
        return 1;
    }
    std::string doc;
    config.get_config_data(doc);
    std::fwrite(doc.data(), 1, doc.size(), stdout);
    return 0;
}

bool read_input(const std::string& file, std::string& text) {
    if (file == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

struct verdict {
    bool valid = false;
    std::string problem;  // in words
    std::list<std::string> messages;  // the reader's own, innermost first
    unsigned line = 0, column = 0;  // syntax errors only
};

verdict judge(const std::string& text, tw_md_storage_config& config) {
    verdict v;
    twjson::Object doc;
    twjson::parse_error error;
    if (!twjson::parse(doc, text, error)) {
        v.problem = "not JSON the reader accepts: " + error.reason;
        v.line = error.line;
        v.column = error.column;
    }
    if (config.read_config_data(text) == 0) {
        v.valid = true;
        return v;
    }
    v.messages = config.get_failures();
    if (v.problem.empty()) {
        auto it = kExplanations.find(v.messages.front());
        v.problem = it != kExplanations.end() ? it->second : v.messages.front();
    }
    return v;
}

void print_summary(const std::string& file, const tw_md_storage_config& c) {
    std::printf("%s: valid metadata storage document\n", file.c_str());
    std::list<std::string> names;
    for (const auto& d : c.get_disk_list()) names.push_back(d.get_name());
    std::printf("  disks:            %s\n", names.empty() ? "(none)" : joined(names, ", ").c_str());
    const tw_vg& vg = c.get_vg();
    std::printf("  volume group:     %s, extent size %llu MiB, reserve %u %%\n", vg.get_name().c_str(),
                vg.get_extent_size(), vg.get_rsvd_percentage_cap());
    names.clear();
    for (const auto& pv : vg.get_pv_list()) names.push_back(pv.get_name());
    std::printf("  physical volumes: %s\n", names.empty() ? "(none)" : joined(names, ", ").c_str());
    std::printf("  logical volumes:%s\n", vg.get_lv_list().empty() ? "  (none)" : "");
    for (const auto& lv : vg.get_lv_list())
        std::printf("    %-12s %3llu %% of free space, at most %llu GiB, %s\n", lv.get_name().c_str(),
                    lv.get_min_percentage(), lv.get_max_size(), lv.is_thin_volume() ? "thin" : "thick");
    std::printf("  file systems:%s\n", c.get_fs_list().empty() ? "     (none)" : "");
    for (const auto& fs : c.get_fs_list())
        std::printf("    %-28s %s\n", fs.get_blk_device().c_str(), fs.get_fs_type().c_str());
    std::printf("  mounts:%s\n", c.get_fs_mount_list().empty() ? "           (none)" : "");
    for (const auto& m : c.get_fs_mount_list())
        std::printf("    %-28s on %s (%s, %s, freq %u, passno %u)\n", m.get_blk_device().c_str(),
                    m.get_mnt_path().c_str(), m.get_fs_type().c_str(), m.get_fs_args().c_str(), m.get_fs_freq(),
                    m.get_fs_passno());
}

int check(const std::string& file, bool json) {
    std::string text;
    if (!read_input(file, text)) {
        std::fprintf(stderr, "twctl metadata check: cannot read '%s': %s\n", file.c_str(),
                     errno ? std::strerror(errno) : "unreadable");
        return 1;
    }
    tw_md_storage_config config;
    // The reader's lookups report wrong kinds on standard error too; the
    // verdict below says the same in words.
    verdict v = judge(text, config);

    if (json) {
        twjson::Object out;
        out << "file" << file << "valid" << v.valid;
        if (!v.valid) {
            twjson::Array messages;
            for (const auto& m : v.messages) messages << m;
            out << "problem" << v.problem << "messages" << messages;
            if (v.line) out << "line" << v.line << "column" << v.column;
        } else {
            out << "disks" << static_cast<unsigned long long>(config.get_disk_list().size()) << "logical_volumes"
                << static_cast<unsigned long long>(config.get_vg().get_lv_list().size()) << "mounts"
                << static_cast<unsigned long long>(config.get_fs_mount_list().size());
        }
        std::fputs(out.json().c_str(), stdout);
        return v.valid ? 0 : 1;
    }
    if (v.valid) {
        print_summary(file, config);
        return 0;
    }
    if (v.line)
        std::printf("%s:%u:%u: %s\n", file.c_str(), v.line, v.column, v.problem.c_str());
    else
        std::printf("%s: %s\n", file.c_str(), v.problem.c_str());
    std::printf("  reader said: %s\n", joined(v.messages, "; ").c_str());
    return 1;
}

bool confirm(const char* question) {
    std::printf("%s [y/N] ", question);
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) answer.clear();
    return answer == "y" || answer == "Y" || answer == "yes";
}

void print_failures(const char* what, const std::list<std::string>& failures) {
    std::fprintf(stderr, "twctl metadata %s: failed\n", what);
    for (const auto& f : failures) std::fprintf(stderr, "  %s\n", f.c_str());
    std::fprintf(stderr, "  (details in %s)\n", twctl::log_file().c_str());
}

bool mentions(const std::list<std::string>& failures, const std::string& text) {
    for (const auto& f : failures)
        if (f.find(text) != std::string::npos) return true;
    return false;
}

struct configure_options {
    std::string file, node_type, old_vg, old_disks;
    bool m5 = false, yes = false, dry_run = false;
};

// What tearing down would take: the group and the disks, named or as recorded.
struct teardown {
    std::string node_type, vg, disks;
};

teardown planned_teardown(tw_resource_mgr& mgr, const std::string& node_type, const std::string& vg,
                          const std::string& disks) {
    std::string recorded_type, recorded_vg, uuids;
    mgr.get_recorded_storage(recorded_type, recorded_vg, uuids);
    teardown t{node_type.empty() ? recorded_type : node_type, vg.empty() ? recorded_vg : vg, disks};
    if (t.disks.empty()) {
        std::list<std::string> found;
        mgr.create_disk_list(uuids, found);
        t.disks = found.empty() ? "(none found)" : joined(found, ", ");
    }
    return t;
}

void print_teardown_steps(const teardown& t, unsigned& step) {
    std::printf("  %u. unmount the default metadata mount paths of node type %s that are mounted\n", ++step,
                t.node_type.empty() ? "(not recorded)" : t.node_type.c_str());
    std::printf("  %u. remove volume group %s when LVM knows it\n", ++step,
                t.vg.empty() ? "(not recorded)" : t.vg.c_str());
    std::printf("  %u. remove the physical volumes on %s\n", ++step, t.disks.c_str());
}

int configure(const configure_options& o) {
    const bool yes = o.yes, m5 = o.m5;
    // Copies: the library takes them by reference.
    std::string file = o.file, node_type = o.node_type, old_vg = o.old_vg, old_disks = o.old_disks;
    std::string text;
    if (!read_input(file, text)) {
        std::fprintf(stderr, "twctl metadata configure: cannot read '%s': %s\n", file.c_str(),
                     errno ? std::strerror(errno) : "unreadable");
        return 1;
    }
    // Read it the way the build will before anything is torn down.
    tw_md_storage_config config;
    if (config.read_config_data(text) != 0) {
        std::fprintf(stderr, "twctl metadata configure: %s is not a layout document: %s; nothing was changed\n",
                     file.c_str(), joined(config.get_failures(), "; ").c_str());
        return 1;
    }
    tw_resource_mgr mgr;
    if (o.dry_run) {
        print_summary(file, config);
        std::printf("Dry run: nothing is changed. Configuring would:\n");
        unsigned step = 0;
        if (!m5) print_teardown_steps(planned_teardown(mgr, node_type, old_vg, old_disks), step);
        std::printf(
            "  %u. make physical volumes on the document's disks, volume group %s with its reserve, and "
            "its logical volumes\n",
            ++step, config.get_vg().get_name().c_str());
        std::printf(
            "  %u. wait 10 s for their device nodes, make XFS file systems, mount them, stamp them and add "
            "their /etc/fstab entries\n",
            ++step);
        std::printf("  %u. record the physical volumes' UUIDs (sArrowfieldMetadataPV)%s\n", ++step,
                    m5 ? "" : ", the node type and the group's name when given");
        return twctl::exit_ok;
    }
    if (!yes) {
        print_summary(file, config);
        if (!m5)
            std::printf("The earlier metadata storage (%s) is torn down first.\n",
                        old_vg.empty() ? "as the registry records it" : ("group " + old_vg).c_str());
        if (!confirm("Everything on the disks above is lost. Go on?")) {
            std::printf("Nothing was changed.\n");
            return 1;
        }
    }
    int rc = m5 ? mgr.configure_m5_meta_data_storage(text)
                : mgr.configure_meta_data_storage(text, node_type, old_vg, old_disks);
    if (rc != 0) {
        print_failures("configure", mgr.get_failures());
        if (mentions(mgr.get_failures(), "reading reg key failed for [sArrowfieldMetadata"))
            std::fprintf(stderr,
                         "  No earlier metadata storage is recorded. On a node that never had one, name "
                         "the group and disks to clear: --old-vg NAME --old-disks DEV,...\n");
        return 1;
    }
    std::printf("metadata storage configured: group %s\n", config.get_vg().get_name().c_str());
    return 0;
}

struct unconfigure_options {
    std::string node_type, vg, disks;
    bool yes = false, dry_run = false;
};

int unconfigure(const unconfigure_options& o) {
    const bool yes = o.yes;
    std::string node_type = o.node_type, vg = o.vg, disks = o.disks;
    tw_resource_mgr mgr;
    if (o.dry_run) {
        std::printf("Dry run: nothing is changed. Unconfiguring would:\n");
        unsigned step = 0;
        print_teardown_steps(planned_teardown(mgr, node_type, vg, disks), step);
        std::printf("  /etc/fstab entries and mount-point directories would stay.\n");
        return twctl::exit_ok;
    }
    if (!yes) {
        std::string recorded_type, recorded_vg, uuids;
        mgr.get_recorded_storage(recorded_type, recorded_vg, uuids);
        std::list<std::string> found;
        if (disks.empty()) mgr.create_disk_list(uuids, found);
        std::printf(
            "Volume group %s and the physical volumes on %s are removed, and the metadata mount paths "
            "unmounted.\n",
            (vg.empty() ? recorded_vg : vg).c_str(),
            disks.empty() ? (found.empty() ? "(none found)" : joined(found, ", ").c_str()) : disks.c_str());
        if (!confirm("Everything on them is lost. Go on?")) {
            std::printf("Nothing was changed.\n");
            return 1;
        }
    }
    if (mgr.unconfigure_meta_data_storage(node_type, vg, disks) != 0) {
        print_failures("unconfigure", mgr.get_failures());
        return 1;
    }
    std::printf("metadata storage unconfigured\n");
    return 0;
}

// Device-mapper's name of a logical volume: dashes inside names doubled.
std::string mapper_name(const std::string& vg, const std::string& lv) {
    return tidewall::blkdev::dm_mapper_path(vg, lv);
}

struct mount_row {
    std::string device, mnt_path, fs_type;
    bool in_group = false;
};

int status(const std::string& vg_option, bool json) {
    tw_resource_mgr mgr;
    std::string node_type, recorded_vg, uuids;
    bool recorded = mgr.get_recorded_storage(node_type, recorded_vg, uuids) == 0 && !recorded_vg.empty();
    std::string name = !vg_option.empty() ? vg_option : recorded ? recorded_vg : TW_MD_VG_NAME;

    int rc = 0;
    tw_lvm lvm;
    std::list<std::string> groups;
    if (lvm.scan_vg_cmd(groups) != 0) rc = 1;
    bool exists = false;
    for (const auto& g : groups) exists = exists || g == name;
    unsigned long long free_extents = 0, alloc_extents = 0;
    std::list<tw_lv> lvs;
    if (exists) {
        if (lvm.get_vg_free_extents(name, free_extents) != 0 || lvm.get_vg_alloc_extents(name, alloc_extents) != 0 ||
            lvm.scan_lv(name, lvs) != 0)
            rc = 1;
    }
    std::list<tw_pv> pvs;
    if (lvm.scan_pv(pvs) != 0) rc = 1;
    std::list<std::pair<std::string, std::string>> recorded_pvs;  // uuid, device or empty
    if (!uuids.empty()) {
        size_t start = 0;
        for (;;) {
            size_t comma = uuids.find(',', start);
            std::string uuid = uuids.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            std::string device;
            for (const auto& pv : pvs)
                if (pv.get_uuid() == uuid) device = pv.get_name();
            recorded_pvs.emplace_back(uuid, device);
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }

    // What is mounted from the group, and what is mounted at the metadata mount paths.
    std::list<mount_row> mounts;
    {
        tw_fsm fsm;
        std::list<TsMntInfo> table;
        if (fsm.scan_mounted_fs(table) != 0) rc = 1;
        const std::string prefix = "/dev/" + name + "/";
        for (const auto& e : table) {
            const std::string& dev = e.GetBackingDevice();
            bool in_group = dev.compare(0, prefix.size(), prefix) == 0;
            for (const auto& lv : lvs) in_group = in_group || dev == mapper_name(name, lv.get_name());
            const std::string& mp = e.GetMountPoint();
            bool metadata_path = mp == TW_MD_DDB_MOUNT_PATH || mp == TW_MD_INDEX_MOUNT_PATH ||
                                 mp == TW_MD_HE_MOUNT_PATH || mp == TW_MD_CS_MOUNT_PATH;
            if (in_group || metadata_path) mounts.push_back({dev, mp, e.GetFileSystemType(), in_group});
        }
    }

    if (json) {
        twjson::Object out, group;
        group << "name" << name << "recorded" << recorded << "exists" << exists;
        if (exists) group << "free_extents" << free_extents << "alloc_extents" << alloc_extents;
        twjson::Array pv_array, lv_array, mount_array;
        for (const auto& [uuid, device] : recorded_pvs) {
            twjson::Object o;
            o << "uuid" << uuid << "device";
            if (device.empty())
                o << twjson::Value();
            else
                o << device;
            pv_array << o;
        }
        for (const auto& lv : lvs) {
            twjson::Object o;
            o << "name" << lv.get_name() << "extents" << lv.get_num_extents() << "thin" << lv.is_thin_volume();
            lv_array << o;
        }
        for (const auto& m : mounts) {
            twjson::Object o;
            o << "device" << m.device << "mnt_path" << m.mnt_path << "fs_type" << m.fs_type << "in_group" << m.in_group;
            mount_array << o;
        }
        out << "node_type" << node_type << "volume_group" << group << "physical_volumes" << pv_array
            << "logical_volumes" << lv_array << "mounts" << mount_array << "complete" << (rc == 0);
        std::fputs(out.json().c_str(), stdout);
        return rc;
    }
    std::printf("volume group %s: %s%s\n", name.c_str(), exists ? "present" : "absent",
                recorded            ? " (recorded in the registry)"
                : vg_option.empty() ? " (none recorded; the default name)"
                                    : "");
    if (!node_type.empty()) std::printf("  node type:         %s\n", node_type.c_str());
    if (exists)
        std::printf("  extents:           %llu allocated, %llu free (as LVM counts them)\n", alloc_extents,
                    free_extents);
    std::printf("  physical volumes:%s\n", recorded_pvs.empty() ? "  (none recorded)" : "");
    for (const auto& [uuid, device] : recorded_pvs)
        std::printf("    %-40s %s\n", uuid.c_str(), device.empty() ? "(no such physical volume now)" : device.c_str());
    if (exists) {
        std::printf("  logical volumes:%s\n", lvs.empty() ? "   (none)" : "");
        for (const auto& lv : lvs)
            std::printf("    %-12s %10llu extents  %s\n", lv.get_name().c_str(), lv.get_num_extents(),
                        lv.is_thin_volume() ? "thin" : "");
    }
    std::printf("  mounts:%s\n", mounts.empty() ? "            (none)" : "");
    for (const auto& m : mounts)
        std::printf("    %-36s on %s (%s)%s\n", m.device.c_str(), m.mnt_path.c_str(), m.fs_type.c_str(),
                    m.in_group ? "" : ", not from this group");
    if (rc != 0) std::printf("(some of LVM or the mount table could not be read; see %s)\n", twctl::log_file().c_str());
    return rc;
}

}  // namespace

void twctl::add_metadata_commands(CLI::App& root) {
    static bool json = false;
    static std::string layout_type, check_file, status_vg;
    static std::list<std::string> layout_disks;
    static configure_options conf;
    static unconfigure_options unconf;
    const auto node_types = CLI::IsMember({"Control", "Data"});
    CLI::App* md = add_group(root, "metadata", "the metadata storage: layout document, volume group, mounts");

    CLI::App* layout_cmd = add_command(*md, "layout", "default metadata storage document for this node",
                                       [] { return layout(layout_type, layout_disks); });
    layout_cmd->add_option("--node-type", layout_type, "Control or Data (default: sArrowfieldNodeType)")
        ->check(node_types);
    layout_cmd->add_option("--disk", layout_disks, "a metadata disk (repeat, or name several)")
        ->type_name("DEV")
        ->required();

    CLI::App* check_cmd = add_command(*md, "check", "read a metadata storage document, report its first problem",
                                      [] { return check(check_file, json); });
    check_cmd->add_option("FILE", check_file, "the document (-: standard input)")->required();
    check_cmd->add_flag("--json", json, "print a JSON document");

    CLI::App* conf_cmd = add_command(
        *md, "configure", "tear down the earlier metadata storage, build the document's",
        [] { return configure(conf); }, privilege::root);
    conf_cmd->add_option("FILE", conf.file, "the document (-: standard input)")->required();
    CLI::Option* type =
        conf_cmd->add_option("--node-type", conf.node_type, "Control or Data, recorded on success")->check(node_types);
    CLI::Option* old_vg =
        conf_cmd->add_option("--old-vg", conf.old_vg, "the group to tear down (default: recorded)")->type_name("NAME");
    CLI::Option* old_disks =
        conf_cmd->add_option("--old-disks", conf.old_disks, "the disks to clear (default: recorded)")
            ->type_name("DEV,...");
    // --m5 tears nothing down and records no node type.
    conf_cmd->add_flag("--m5", conf.m5, "build without tearing anything down")
        ->excludes(type)
        ->excludes(old_vg)
        ->excludes(old_disks);
    conf_cmd->add_flag("--yes", conf.yes, "do not ask before starting");
    add_dry_run(*conf_cmd, conf.dry_run);

    CLI::App* unconf_cmd = add_command(
        *md, "unconfigure", "tear down the metadata storage the registry records", [] { return unconfigure(unconf); },
        privilege::root);
    unconf_cmd->add_option("--node-type", unconf.node_type, "Control or Data (default: recorded)")->check(node_types);
    unconf_cmd->add_option("--vg", unconf.vg, "the group to remove (default: recorded)")->type_name("NAME");
    unconf_cmd->add_option("--disks", unconf.disks, "the disks to clear (default: recorded)")->type_name("DEV,...");
    unconf_cmd->add_flag("--yes", unconf.yes, "do not ask before starting");
    add_dry_run(*unconf_cmd, unconf.dry_run);

    CLI::App* status_cmd = add_command(
        *md, "status", "the metadata group, its volumes and mounts as they are now",
        [] { return status(status_vg, json); }, privilege::root);
    status_cmd->add_option("--vg", status_vg, "the group (default: recorded, else metadatavg)")->type_name("NAME");
    status_cmd->add_flag("--json", json, "print a JSON document");
}
