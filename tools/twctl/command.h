#ifndef TWCTL_COMMAND_H
#define TWCTL_COMMAND_H

#include <string>
#include <vector>

namespace twctl {

using args = std::vector<std::string>;

// A command group ("storage", "disks", ...). Each group lives in its own file and
// registers itself; run gets the words after the group name.
struct command {
    const char* name;
    const char* usage;  // one or more lines for --help
    int (*run)(const args& words);
};

void register_command(const command& c);

struct registrar {
    explicit registrar(const command& c) { register_command(c); }
};

// Whether words holds flag, removing it.
bool take_flag(args& words, const std::string& flag);

} // namespace twctl

#endif
