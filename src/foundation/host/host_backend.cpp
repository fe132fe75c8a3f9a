#include "foundation/host/host_backend.h"

#include "foundation/host/real_backend.h"

#include <cstdlib>

namespace tidewall::host {

namespace {
backend* installed = nullptr;
}

bool backend::get_env(const std::string& name, std::string& value) {
    const char* v = std::getenv(name.c_str());
    if (!v) return false;
    value = v;
    return true;
}

backend& real() {
    // Never destroyed: static objects of callers may still log at exit.
    static real_backend* machine = new real_backend();
    return *machine;
}

backend& current() { return installed ? *installed : real(); }

backend* install(backend* b) {
    backend* before = installed;
    installed = b;
    return before;
}

}  // namespace tidewall::host
