#include <tidewall/tw_activity.h>

#include "foundation/fs/file_io.h"
#include "foundation/host/host_backend.h"
#include "platform/sar_statistics.h"

#include <unistd.h>

unsigned tw_activity_file_count() {
    unsigned count = 0;
    for (int day = 1; day <= 31; ++day)
        if (struct stat st{}; tidewall::file_io::status_of(tidewall::host::path(sar_get_filename(day)), st, true) == 0)
            ++count;
    return count;
}
