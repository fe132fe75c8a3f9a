#include <tidewall/ts_exception.h>

TsException::TsException(const std::string& tag, const std::string& message, const std::string& source_file, int line,
                         int code)
    : tag_(tag), message_(message), source_file_(source_file), line_(line), code_(code) {}

const char* TsException::what() const noexcept { return message_.c_str(); }

std::string TsException::formatError() const { return message_; }
