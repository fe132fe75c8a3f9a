#ifndef TIDEWALL_FOUNDATION_FS_FILE_KIND_H
#define TIDEWALL_FOUNDATION_FS_FILE_KIND_H

// What a name is, on paths that are already mapped by the host layer. A name
// that cannot be looked at (missing, no permission) is neither.

#include <string>

namespace tidewall::file_io {

enum class links { follow, no_follow };

bool is_directory(const std::string& path, links how = links::follow);
bool is_regular_file(const std::string& path, links how = links::follow);

}  // namespace tidewall::file_io

#endif
