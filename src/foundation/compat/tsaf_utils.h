#ifndef TIDEWALL_FOUNDATION_TSAF_UTILS_H
#define TIDEWALL_FOUNDATION_TSAF_UTILS_H

// Utility services of the host layer: commands, registry (section Dockwright),
// extended attributes, mount state, files, strings, conversions, name
// resolution, pseudo-random data and node facts. Everything that touches the
// machine goes through the installed host backend.
// One source file a topic: tsaf_utils_<topic>.cpp.

#include <cstdint>
#include <ctime>
#include <list>
#include <string>
#include <vector>

class tsaf_utils {
public:
    // Registry section of the node settings.
    static const char* const kSection;  // "Dockwright"

    // Commands. time_limit is in seconds; a command still running then is killed.
    // 0 means the default limit, as for TsProcess::system: never no limit.
    static int popen(const std::string& cmd, std::list<std::string>& lines, int time_limit);
    static int execute_command(const std::string& cmd, std::list<std::string>& out, std::string& err, int time_limit);

    // Registry keys of section Dockwright: 0 and the value, non-zero when absent.
    static int get_reg_key(const std::string& name, std::string& value);
    static int get_reg_key(const std::string& name, unsigned& value);
    static int set_reg_key(const std::string& name, const std::string& value);

    // Extended attributes: 0 on success, else an errno value.
    static int getextendedattribute(const std::string& path, const std::string& name, std::string& value);
    static int setextendedattribute(const std::string& path, const std::string& name, const std::string& value);
    static int removeextendedattribute(const std::string& path, const std::string& name);

    // Mount state from /etc/mtab: 1 when path is a mount point, with its device,
    // type and options; 0 when not mounted; -1 when the table cannot be read.
    static int is_mounted(const std::string& path, std::string& blkdev, std::string& fstype,
                          std::list<std::string>& options);
    // Backing device of the file system holding dir (longest mount-point prefix); 0 or -1.
    static int get_dir_bdev(const std::string& dir, std::string& bdev, std::string& mnt_point);
    // Total and free bytes of the file system holding path; 0 or an errno value.
    static int get_fs_usage(const std::string& path, unsigned long& total, unsigned long& free);

    static std::string create_file_sys_args(const std::list<std::string>& options);
    static int is_present(const std::list<std::string>& items, const std::string& value);

    // 0 and the text before and after the first separator (not trimmed);
    // non-zero when the line has no separator.
    static int get_name_value_pair(const std::string& line, std::string& name, std::string& value);
    static int get_name_value_pair(const std::string& line, char sep, std::string& name, std::string& value);
    // Tokens between runs of separator characters, in order; empty tokens are dropped.
    static void tokenize(const char* text, const char* separators, std::vector<std::string>& out);

    static std::string trim(const std::string& s);
    static std::string trim_left(const std::string& s, const std::string& chars);
    static std::string trim_right(const std::string& s, const std::string& chars);

    // Files at system paths (mapped by the host backend).
    static int read_file(const std::string& path, std::list<std::string>& lines);
    static int read(const std::string& path, std::string& content);
    // Replaces the file atomically with text.
    static int write(const std::string& path, const std::string& text);
    static int copy_file(const std::string& from, const std::string& to);
    static bool is_file(const std::string& path);
    static bool is_dir(const std::string& path);
    static int mkdir_r(const std::string& path, unsigned mode);
    static std::string dirname(const std::string& path);
    static int readlink(const std::string& path, std::string& target);
    static int read_directory(const std::string& dir, std::list<std::string>& names);

    // Conversions. The string_to_* forms read a leading decimal number (after
    // blanks) and give 0 when there is none.
    static unsigned string_to_uint(const std::string& s);
    static unsigned long string_to_ulong(const std::string& s);
    static double string_to_double(const std::string& s);
    static std::string uint_to_string(unsigned v);
    static std::string ulong_to_string(unsigned long v);
    static std::string uint_to_hexstr(unsigned v, int width);
    static std::string booltostr(bool v);

    // Names.
    static int resolve_hname(const std::string& name, std::string& out);
    // 1 when name stands for this node: a loop-back name or address, this host's
    // name (full or short, in any case), or a name or address that resolves to a
    // loop-back address or to an address of one of this host's interfaces.
    static int is_loop_back_hname(const std::string& name);

    // Services (systemctl). disableservice with stop_now also stops the unit.
    // 0 on success, -1 when systemctl fails.
    static int disableservice(const std::string& name, bool stop_now);
    static int systemctl_reload_cmd();

    // SSH to peer nodes, as root, with key login and no prompts. 0 on success.
    // generate_ssh_keys makes an RSA pair at private_key_path (and .pub); an
    // existing private key is kept and only its public half written again.
    static int generate_ssh_keys(const std::string& private_key_path);
    // Installs the public key in root's authorized keys on host. password is
    // root's password there, used once through a private file; empty when key
    // login already works.
    static int copy_ssh_keys(const std::string& public_key_path, const std::string& host, const std::string& password);
    // Names in a directory of host (without . and ..), appended in order.
    static int get_remote_dir_contents(const std::string& host, const std::string& dir, std::list<std::string>& names);
    // Removes a file on host; a file that is already gone counts as removed.
    static int delete_remote_file(const std::string& host, const std::string& path);

    // Pseudo-random data: a fresh key (its text form in key_text), and count
    // words that depend only on the key, the same on every run and machine.
    static unsigned generate_prg_key(std::string& key_text);
    static void generate_prg_data(unsigned key, unsigned* buf, unsigned count);
    // The same stream from word `first` on, for callers that work in chunks.
    static void generate_prg_data_at(unsigned key, std::uint64_t first, unsigned* buf, unsigned count);
    // Whether buf holds exactly that stretch of the stream: the check without
    // storing the expected words first.
    static bool prg_data_matches_at(unsigned key, std::uint64_t first, const unsigned* buf, unsigned count);

    // Node facts.
    static bool is_arrowfield_dw();
    static unsigned getarrowfield_type();
    static bool is_efi_platform();
    static int get_maldor_cluster_nodes(std::string& nodes);
    static int check_rpm(const std::string& name);

    // Refreshes the node's software subscriptions; throws TsException on failure.
    void manage_subscriptions();

    // Time conversions.
    static std::time_t now();
    // Local time of day of t as "HH:MM:SS" (24-hour), as sar takes it.
    static std::string time_get_timestr(std::time_t t);
    // The local midnight that begins t's day.
    static std::time_t time_get_datetimezero(std::time_t t);
};

#endif
