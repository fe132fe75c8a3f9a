#include "json_out.h"

#include <tidewall/twjson.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace twctl {

namespace {

// One of twctl's standard streams, sent to a memory file while a command runs.
class captured_stream {
public:
    captured_stream(int fd, FILE* stream) : fd_(fd), stream_(stream) {
        std::fflush(stream_);
        memory_ = ::memfd_create("twctl-capture", MFD_CLOEXEC);
        saved_ = ::dup(fd_);
        if (memory_ >= 0 && saved_ >= 0) ::dup2(memory_, fd_);
    }
    captured_stream(const captured_stream&) = delete;
    captured_stream& operator=(const captured_stream&) = delete;
    ~captured_stream() { restore(); }

    // Puts the stream back and gives what was written to it.
    std::string restore() {
        std::string text;
        if (saved_ < 0) return text;
        std::fflush(stream_);
        ::dup2(saved_, fd_);
        ::close(saved_);
        saved_ = -1;
        if (memory_ < 0) return text;
        char buf[65536];
        ssize_t n;
        ::lseek(memory_, 0, SEEK_SET);
        while ((n = ::read(memory_, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
        ::close(memory_);
        memory_ = -1;
        return text;
    }

private:
    int fd_;
    FILE* stream_;
    int memory_ = -1;
    int saved_ = -1;
};

std::string last_line(const std::string& text) {
    std::string t = text;
    while (!t.empty() && (t.back() == '\n' || t.back() == ' ')) t.pop_back();
    size_t at = t.find_last_of('\n');
    return at == std::string::npos ? t : t.substr(at + 1);
}

void write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

void print_document(const twjson::Object& doc) { std::fputs(doc.json().c_str(), stdout); }

twjson::Value text_or_null(const std::string& s) { return s.empty() ? twjson::Value() : twjson::Value(s); }

twjson::Value rounded(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return twjson::Value(std::strtold(text, nullptr));
}

void print_json_error(const std::string& error, int status) {
    twjson::Object doc;
    doc << "error" << error;
    doc << "format_version" << twjson::Value(static_cast<twjson::Number>(kJsonFormatVersion));
    doc << "exit_status" << twjson::Value(static_cast<twjson::Number>(status));
    write_all(STDOUT_FILENO, doc.json());
}

int run_json_document(const std::string& command, const std::function<int()>& run) {
    std::cout.flush();
    std::cerr.flush();
    captured_stream out(STDOUT_FILENO, stdout), err(STDERR_FILENO, stderr);
    int status;
    std::string thrown;
    try {
        status = run();
    } catch (const std::exception& e) {
        thrown = command + ": " + e.what() + "\n";
        status = 1;
    }
    std::cout.flush();
    std::cerr.flush();
    const std::string document = out.restore();
    const std::string said = err.restore() + thrown;
    write_all(STDERR_FILENO, said);

    twjson::Object doc;
    bool printed = document.find_first_not_of(" \t\r\n") != std::string::npos;
    if (printed && !doc.parse(document)) {
        // A document twctl cannot read back is twctl's own fault: say so, keep its text for people.
        write_all(STDERR_FILENO, command + ": internal error: the JSON document does not read back:\n" + document);
        doc.reset();
        doc << "error"
            << "internal error: the command's JSON document does not read back";
        if (status == 0) status = 1;
    } else if (!printed) {
        std::string why = last_line(said);
        if (why.empty()) why = status == 0 ? "the command printed no document" : "failed";
        doc << "error" << why;
        if (status == 0) status = 1;
    }
    doc << "format_version" << twjson::Value(static_cast<twjson::Number>(kJsonFormatVersion));
    doc << "exit_status" << twjson::Value(static_cast<twjson::Number>(status));
    write_all(STDOUT_FILENO, doc.json());
    return status;
}

}  // namespace twctl
