#include "foundation/compat/tsaf_utils.h"

#include "foundation/host/host_backend.h"

using tidewall::host::current;
using tidewall::host::path;

int tsaf_utils::getextendedattribute(const std::string& p, const std::string& name, std::string& value) {
    return current().get_xattr(path(p), name, value);
}

int tsaf_utils::setextendedattribute(const std::string& p, const std::string& name, const std::string& value) {
    return current().set_xattr(path(p), name, value);
}

int tsaf_utils::removeextendedattribute(const std::string& p, const std::string& name) {
    return current().remove_xattr(path(p), name);
}
