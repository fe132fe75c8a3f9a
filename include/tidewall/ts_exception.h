#ifndef TIDEWALL_TS_EXCEPTION_H
#define TIDEWALL_TS_EXCEPTION_H

#include <tidewall/export.h>

#include <exception>
#include <string>

// The one exception type of the library. The code is -1 everywhere the library
// throws; formatError() gives the text that callers log.
class TW_API TsException : public std::exception {
public:
    TsException(const std::string& tag, const std::string& message, const std::string& source_file, int line, int code);

    const char* what() const noexcept override;
    std::string formatError() const;

    const std::string& tag() const { return tag_; }
    const std::string& message() const { return message_; }
    const std::string& source_file() const { return source_file_; }
    int line() const { return line_; }
    int code() const { return code_; }

private:
    std::string tag_;
    std::string message_;
    std::string source_file_;
    int line_;
    int code_;
};

#endif
