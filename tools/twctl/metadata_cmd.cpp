// twctl metadata layout: the default metadata storage document for this node.
// twctl metadata check: reads a layout document the way provisioning will and
// says what is wrong with it, or what it would build.

#include "command.h"

#include <tidewall/tw_md_storage_config.h>
#include <tidewall/twjson.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

namespace {

const char* const kUsage =
    "  metadata layout [--node-type Control|Data] --disk DEV [--disk DEV ...]\n"
    "                             default metadata storage document for this node\n"
    "  metadata check FILE [--json]\n"
    "                             read a metadata storage document, report its first problem\n";

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
    {"fs mount config name missing",
     "an element of \"fileSystemMount\" is not an object with a string \"blkDevice\""},
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

int layout(twctl::args words) {
    std::string node_type;
    std::list<std::string> disks;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if ((w == "--node-type" || w == "--disk") && i + 1 == words.size()) {
            std::fprintf(stderr, "twctl metadata layout: %s needs a value\n", w.c_str());
            return 2;
        }
        if (w == "--node-type") {
            node_type = words[++i];
            if (node_type != "Control" && node_type != "Data") {
                std::fprintf(stderr, "twctl metadata layout: node type must be Control or Data, not '%s'\n",
                             node_type.c_str());
                return 2;
            }
        } else if (w == "--disk") {
            disks.push_back(words[++i]);
        } else if (!w.empty() && w[0] != '-' && !disks.empty()) {
            disks.push_back(w);  // --disk /dev/sdb /dev/sdc
        } else {
            std::fprintf(stderr, "twctl metadata layout: unexpected argument '%s'\n", w.c_str());
            return 2;
        }
    }
    if (disks.empty()) {
        std::fprintf(stderr, "twctl metadata layout: name the metadata disks with --disk DEV\n");
        return 2;
    }
    tw_md_storage_config config;
    if (config.init(node_type) != 0) {
        std::fprintf(stderr, "twctl metadata layout: %s\n", joined(config.get_failures(), "; ").c_str());
        if (node_type.empty())
            std::fprintf(stderr, "  (without --node-type the node type comes from the registry)\n");
        return 1;
    }
    config.create_config_data(disks);
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
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

struct verdict {
    bool valid = false;
    std::string problem;               // in words
    std::list<std::string> messages;   // the reader's own, innermost first
    unsigned line = 0, column = 0;     // syntax errors only
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

int check(twctl::args words) {
    bool json = twctl::take_flag(words, "--json");
    if (words.size() != 1) {
        std::fprintf(stderr, "usage: twctl metadata check FILE [--json]\n");
        return 2;
    }
    const std::string& file = words[0];
    std::string text;
    if (!read_input(file, text)) {
        std::fprintf(stderr, "twctl metadata check: cannot read '%s'\n", file.c_str());
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

int run(const twctl::args& words) {
    if (words.empty() || words[0] == "--help") {
        std::printf("usage:\n%s", kUsage);
        return words.empty() ? 2 : 0;
    }
    twctl::args rest(words.begin() + 1, words.end());
    if (words[0] == "layout") return layout(rest);
    if (words[0] == "check") return check(rest);
    std::fprintf(stderr, "twctl metadata: unknown subcommand '%s'\n", words[0].c_str());
    return 2;
}

const twctl::registrar reg({"metadata", kUsage, run});

} // namespace
