#ifndef TWCTL_JSON_OUT_H
#define TWCTL_JSON_OUT_H

#include <functional>
#include <string>

namespace twctl {

// The version of every JSON document twctl prints (docs/json.md); raised when a
// field changes meaning or goes away, not when one is added.
constexpr int kJsonFormatVersion = 1;

// A JSON string literal of s (bytes that are not valid text pass as \u00XX).
std::string json_string(const std::string& s);

// Runs a command that was asked for --json and prints its document through the
// one writer: with "format_version" and "exit_status" added, and, when the
// command failed before it could print one, an object that carries the error
// message and the exit status instead. What the command says on stderr still
// goes to stderr.
int run_json_document(const std::string& command, const std::function<int()>& run);

// The object of a command that failed before it ran: error, exit_status, format_version.
void print_json_error(const std::string& error, int status);

} // namespace twctl

#endif
