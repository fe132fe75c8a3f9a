#ifndef TIDEWALL_FOUNDATION_SYSTEM_PATHS_H
#define TIDEWALL_FOUNDATION_SYSTEM_PATHS_H

// The machine's fixed paths the library reads or writes, each named once. They
// are system paths: code maps them through host::path before touching them.

namespace tidewall::host::system_paths {

// Mount tables.
inline constexpr char fstab[] = "/etc/fstab";
inline constexpr char mtab[] = "/etc/mtab";
inline constexpr char mountinfo[] = "/proc/self/mountinfo";
inline constexpr char swaps[] = "/proc/swaps";

// Kernel views.
inline constexpr char sys_block[] = "/sys/block";
inline constexpr char inotify_max_user_watches[] = "/proc/sys/fs/inotify/max_user_watches";
// Present while systemd runs the machine.
inline constexpr char systemd_run[] = "/run/systemd/system";

// The product log directory when the registry names none.
inline constexpr char product_log_dir[] = "/var/log/tessaline";
// The product registry.
inline constexpr char registry_root[] = "/etc/TessalineRegistry/Tolvan";

// The library's own: root-only locks (gone at boot) and state kept across boots.
inline constexpr char lock_dir[] = "/run/tidewall";
inline constexpr char state_dir[] = "/var/lib/tidewall";

}  // namespace tidewall::host::system_paths

#endif
