#include "foundation/host/host_backend.h"

#include "foundation/host/real_backend.h"

namespace tidewall::host {

namespace {
backend* installed = nullptr;
}

backend& real() {
    // Never destroyed: static objects of callers may still log at exit.
    static real_backend* machine = new real_backend();
    return *machine;
}

backend& current() { return installed ? *installed : real(); }

void install(backend* b) { installed = b; }

} // namespace tidewall::host
