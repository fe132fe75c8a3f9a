#include "foundation/compat/tsaf_utils.h"

#include "foundation/host/host_backend.h"

#include <arpa/inet.h>
#include <cctype>
#include <vector>

using tidewall::host::current;

int tsaf_utils::resolve_hname(const std::string& name, std::string& out) {
    if (name.empty()) return -1;
    return current().resolve(name, out);
}

namespace {

bool is_loop_back_address(const std::string& a) { return a.rfind("127.", 0) == 0 || a == "::1"; }

bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

int tsaf_utils::is_loop_back_hname(const std::string& name) {
    if (name.empty()) return 0;
    if (same_name(name, "localhost") || is_loop_back_address(name)) return 1;
    std::string self;
    if (current().host_name(self) == 0 && !self.empty()) {
        // Host names compare without regard to case; a short name stands for
        // this host only when the full name begins with it.
        if (same_name(name, self) || same_name(name, self.substr(0, self.find('.')))) return 1;
    }
    // Bricks and peers are often named by the storage network's name or
    // address: such a name is this node's when it leads to one of its interfaces.
    std::string addr;
    unsigned char literal[sizeof(struct in6_addr)];
    if (::inet_pton(AF_INET, name.c_str(), literal) == 1 || ::inet_pton(AF_INET6, name.c_str(), literal) == 1)
        addr = name;  // an address stands for itself
    else if (current().resolve(name, addr) != 0 || addr.empty())
        return 0;
    if (is_loop_back_address(addr)) return 1;
    std::vector<std::string> own;
    if (current().local_addresses(own) != 0) return 0;
    for (const auto& a : own)
        if (a == addr) return 1;
    return 0;
}
