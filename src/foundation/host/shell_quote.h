#ifndef TIDEWALL_FOUNDATION_SHELL_QUOTE_H
#define TIDEWALL_FOUNDATION_SHELL_QUOTE_H

#include <string>

namespace tidewall {

// A value as it goes into a shell command line: unchanged when every character
// is one of A-Za-z0-9_@%+=:,./- (so ordinary command texts stay as they are),
// otherwise in single quotes with embedded quotes escaped. An empty value
// becomes ''.
std::string shell_quote(const std::string& value);

}  // namespace tidewall

#endif
