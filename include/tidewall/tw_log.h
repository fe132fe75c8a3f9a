#ifndef TIDEWALL_TW_LOG_H
#define TIDEWALL_TW_LOG_H

#include <tidewall/export.h>

#include <string>

// The product log file every library call writes to: TSTidewall.log in the
// directory dEVLOGDIR of section EventManager names, else in /var/log/tessaline.
// For messages that send a person to the log.
TW_API std::string tw_log_file_path();

// Why the calling thread's latest failing call failed, in words ("another
// provisioning is running (pid 123)"), or "" when it gave no reason. Read it
// right after the call that failed: the next call replaces it.
TW_API std::string tw_last_error();

#endif
