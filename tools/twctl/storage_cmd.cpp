// twctl storage info [--json]: flavour, server model, image version and every
// kind of mount path with its path, options and file system.

#include "cli.h"
#include "json_out.h"

#include <tidewall/tw_storage.h>

#include <sys/statvfs.h>

#include <cstdio>
#include <vector>

namespace {

struct kind_row {
    tw_storage::mnt_path_type kind;
    const char* name;
    bool list_form;  // numbered data mount paths
};

const kind_row kKinds[] = {
    {tw_storage::MNT_PATH_DDB, "ddb", false},
    {tw_storage::MNT_PATH_DATAPATH, "datapath", true},
    {tw_storage::MNT_PATH_GLUSTERFS, "glusterfs", false},
    {tw_storage::MNT_PATH_EFI_BOOT, "efi-boot", false},
    {tw_storage::MNT_PATH_MALDOR_DATAPATH, "maldor-datapath", true},
    {tw_storage::MNT_PATH_MALDOR_FS, "maldor-fs", false},
};

// One field of a kind: its value, or why it has none.
struct field {
    bool ok = false;
    std::string text;
};

template <typename F>
field ask(F f) {
    field out;
    try {
        out.text = f();
        out.ok = true;
    } catch (const TsException& e) {
        out.text = e.formatError();
    }
    return out;
}

const char* flavour_name(unsigned t) {
    switch (t) {
    case tw_storage::SDS_GLUSTERFS: return "glusterfs";
    case tw_storage::SDS_MALDOR: return "maldor";
    default: return "undetermined";
    }
}

std::string json_field(const field& f) {
    return f.ok ? twctl::json_string(f.text) : "null";
}

int storage_info(bool json) {
    tw_storage storage;
    unsigned flavour = storage.get_sds_type();
    std::string model;
    storage.get_server_model(model);
    int major = 0, minor = 0;
    bool have_image = storage.get_imaging_id(major, minor) == 0;
    std::string image = have_image ? std::to_string(major) + "." + std::to_string(minor) : "";

    struct row {
        const kind_row* k;
        field path, options, fs;
        std::list<free_space_info> mounted;
    };
    std::vector<row> rows;
    for (const auto& k : kKinds) {
        row r{&k, {}, {}, {}, {}};
        if (k.list_form) {
            // Data kinds name numbered directories; the flavour's own kind shows its prefix.
            bool own = (k.kind == tw_storage::MNT_PATH_DATAPATH) == (flavour == tw_storage::SDS_GLUSTERFS);
            r.path.ok = own;
            r.path.text = own ? storage.get_datapath_prefix() + "N" : "data kind of the other storage flavour";
            field listed = ask([&] {
                storage.get_mnt_path(k.kind, r.mounted, false);
                return std::string();
            });
            if (!listed.ok) r.mounted.clear();
        } else {
            r.path = ask([&] {
                std::string p;
                storage.get_mnt_path(k.kind, p);
                return p;
            });
        }
        r.options = ask([&] { return storage.get_mount_options(k.kind); });
        r.fs = ask([&] { return storage.get_file_system(k.kind); });
        rows.push_back(std::move(r));
    }

    if (json) {
        std::printf("{\n  \"flavour\": %u,\n  \"flavour_name\": %s,\n  \"server_model\": %s,\n  \"image_version\": %s,\n",
                    flavour, twctl::json_string(flavour_name(flavour)).c_str(), twctl::json_string(model).c_str(),
                    have_image ? twctl::json_string(image).c_str() : "null");
        std::printf("  \"gluster_admin_available\": %s,\n", storage.gluster_admin_available() ? "true" : "false");
        std::printf("  \"datapath_prefix\": %s,\n  \"mount_paths\": [\n",
                    twctl::json_string(storage.get_datapath_prefix()).c_str());
        for (size_t i = 0; i < rows.size(); ++i) {
            const row& r = rows[i];
            std::printf("    {\"kind\": %s, \"kind_value\": %d, \"path\": %s, \"options\": %s, \"file_system\": %s",
                        twctl::json_string(r.k->name).c_str(), static_cast<int>(r.k->kind), json_field(r.path).c_str(),
                        json_field(r.options).c_str(), json_field(r.fs).c_str());
            std::string why;
            for (const field* f : {&r.path, &r.options, &r.fs})
                if (!f->ok) why += (why.empty() ? "" : "; ") + f->text;
            if (!why.empty()) std::printf(", \"unavailable\": %s", twctl::json_string(why).c_str());
            if (r.k->list_form) {
                std::printf(", \"mounted\": [");
                bool first = true;
                for (const auto& m : r.mounted) {
                    // free_gib is the library's whole GiB; free_bytes is exact, null when unknown.
                    struct statvfs vfs {};
                    std::string bytes = ::statvfs(m.mnt_path.c_str(), &vfs) == 0
                                            ? std::to_string(static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize)
                                            : "null";
                    std::printf("%s{\"path\": %s, \"free_gib\": %llu, \"free_bytes\": %s}", first ? "" : ", ",
                                twctl::json_string(m.mnt_path).c_str(), m.free_space, bytes.c_str());
                    first = false;
                }
                std::printf("]");
            }
            std::printf("}%s\n", i + 1 < rows.size() ? "," : "");
        }
        std::printf("  ]\n}\n");
        return 0;
    }

    std::printf("Storage flavour:   %u (%s)\n", flavour, flavour_name(flavour));
    std::printf("Server model:      %s\n", model.empty() ? "(unknown: dmidecode gave none)" : model.c_str());
    std::printf("Image version:     %s\n", have_image ? image.c_str() : "(none: sArrowfieldImageidentifier unset or unreadable)");
    std::printf("Gluster admin:     %s\n", storage.gluster_admin_available() ? "available" : "unavailable (see log)");
    std::printf("Data path prefix:  %s\n\n", storage.get_datapath_prefix().c_str());
    std::printf("%-16s %-44s %-44s %s\n", "KIND", "PATH", "OPTIONS", "FILE SYSTEM");
    for (const auto& r : rows) {
        auto show = [](const field& f) { return f.ok ? (f.text.empty() ? std::string("(empty)") : f.text) : "- (" + f.text + ")"; };
        std::printf("%-16s %-44s %-44s %s\n", r.k->name, show(r.path).c_str(), show(r.options).c_str(), show(r.fs).c_str());
        for (const auto& m : r.mounted)
            std::printf("%-16s   mounted %-36s free %llu GiB\n", "", m.mnt_path.c_str(), m.free_space);
    }
    return 0;
}

} // namespace

void twctl::add_storage_commands(CLI::App& root) {
    static bool json = false;
    CLI::App* storage = add_group(root, "storage", "the node's storage settings");
    add_command(*storage, "info", "flavour, server model, image version, mount-path kinds",
                [] { return storage_info(json); })
        ->add_flag("--json", json, "print a JSON document");
}
