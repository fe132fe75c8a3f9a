// twctl: the operator's front to the Tidewall node library.

#include "command.h"

#include <cstdio>
#include <cstring>
#include <map>

namespace twctl {

namespace {
std::map<std::string, command>& commands() {
    static std::map<std::string, command> all;
    return all;
}
} // namespace

void register_command(const command& c) { commands()[c.name] = c; }

bool take_flag(args& words, const std::string& flag) {
    for (auto it = words.begin(); it != words.end(); ++it) {
        if (*it == flag) {
            words.erase(it);
            return true;
        }
    }
    return false;
}

} // namespace twctl

static void usage(FILE* to) {
    std::fprintf(to, "usage: twctl COMMAND [ARGS]\n\ncommands:\n");
    for (const auto& [name, c] : twctl::commands()) std::fprintf(to, "%s", c.usage);
    std::fprintf(to, "\nEvery command logs to the product log (TSTidewall.log); TW_DEBUG_LEVEL sets its level.\n");
}

int main(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    auto it = twctl::commands().find(argv[1]);
    if (it == twctl::commands().end()) {
        std::fprintf(stderr, "twctl: unknown command '%s'\n", argv[1]);
        usage(stderr);
        return 2;
    }
    twctl::args words(argv + 2, argv + argc);
    try {
        return it->second.run(words);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "twctl %s: %s\n", argv[1], e.what());
        return 1;
    }
}
