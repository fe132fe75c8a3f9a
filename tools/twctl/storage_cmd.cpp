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

template <typename F> field ask(F f) {
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

twjson::Value json_field(const field& f) { return f.ok ? twjson::Value(f.text) : twjson::Value(); }

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
        twjson::Array paths;
        for (const row& r : rows) {
            twjson::Object o;
            o << "kind" << r.k->name << "kind_value" << static_cast<int>(r.k->kind) << "path" << json_field(r.path)
              << "options" << json_field(r.options) << "file_system" << json_field(r.fs);
            std::string why;
            for (const field* f : {&r.path, &r.options, &r.fs})
                if (!f->ok) why += (why.empty() ? "" : "; ") + f->text;
            if (!why.empty()) o << "unavailable" << why;
            if (r.k->list_form) {
                twjson::Array mounted;
                for (const auto& m : r.mounted) {
                    // free_gib is the library's whole GiB; free_bytes is exact, null when unknown.
                    struct statvfs vfs {};
                    twjson::Value bytes;
                    if (::statvfs(m.mnt_path.c_str(), &vfs) == 0)
                        bytes = static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize;
                    twjson::Object one;
                    one << "path" << m.mnt_path << "free_gib" << m.free_space << "free_bytes" << std::move(bytes);
                    mounted << std::move(one);
                }
                o << "mounted" << std::move(mounted);
            }
            paths << std::move(o);
        }
        twjson::Object doc;
        // An empty model is dmidecode telling none: not known, rather than a name.
        doc << "flavour" << flavour << "flavour_name" << flavour_name(flavour) << "server_model"
            << twctl::text_or_null(model) << "image_version" << (have_image ? twjson::Value(image) : twjson::Value())
            << "gluster_admin_available" << storage.gluster_admin_available() << "datapath_prefix"
            << storage.get_datapath_prefix() << "mount_paths" << std::move(paths);
        twctl::print_document(doc);
        return 0;
    }

    std::printf("Storage flavour:   %u (%s)\n", flavour, flavour_name(flavour));
    std::printf("Server model:      %s\n", model.empty() ? "(unknown: dmidecode gave none)" : model.c_str());
    std::printf("Image version:     %s\n",
                have_image ? image.c_str() : "(none: sArrowfieldImageidentifier unset or unreadable)");
    if (storage.gluster_admin_available())
        std::printf("Gluster admin:     available\n");
    else
        std::printf("Gluster admin:     unavailable (see %s)\n", twctl::log_file().c_str());
    std::printf("Data path prefix:  %s\n\n", storage.get_datapath_prefix().c_str());
    std::printf("%-16s %-44s %-44s %s\n", "KIND", "PATH", "OPTIONS", "FILE SYSTEM");
    for (const auto& r : rows) {
        auto show = [](const field& f) {
            return f.ok ? (f.text.empty() ? std::string("(empty)") : f.text) : "- (" + f.text + ")";
        };
        std::printf("%-16s %-44s %-44s %s\n", r.k->name, show(r.path).c_str(), show(r.options).c_str(),
                    show(r.fs).c_str());
        for (const auto& m : r.mounted)
            std::printf("%-16s   mounted %-36s free %llu GiB\n", "", m.mnt_path.c_str(), m.free_space);
    }
    return 0;
}

}  // namespace

void twctl::add_storage_commands(CLI::App& root) {
    static bool json = false;
    CLI::App* storage = add_group(root, "storage", "the node's storage settings");
    add_command(*storage, "info", "flavour, server model, image version, mount-path kinds", [] {
        return storage_info(json);
    })->add_flag("--json", json, "print a JSON document");
}
