#include "foundation/error/throw_error.h"

#include "foundation/error/status.h"

#include <tidewall/ts_exception.h>

namespace tidewall {

void throw_error(const std::string& tag, const std::string& message, const std::string& source, int line) {
    last_error::set(message);
    throw TsException(tag, message, source, line, -1);
}

}  // namespace tidewall
