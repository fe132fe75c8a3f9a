#ifndef TWCTL_JSON_OUT_H
#define TWCTL_JSON_OUT_H

#include <tidewall/twjson.h>

#include <functional>
#include <string>

namespace twctl {

// The version of every JSON document twctl prints (docs/json.md); raised when a
// field changes meaning or goes away, not when one is added.
constexpr int kJsonFormatVersion = 1;

// Prints a command's document on stdout through the one writer; the output
// stage (run_json_document) adds "format_version" and "exit_status".
void print_document(const twjson::Object& doc);

// A text that may be unknown: null for "", the text otherwise. Only for fields
// where "" can mean nothing but "not known".
twjson::Value text_or_null(const std::string& s);

// A number as its text with `decimals` places would show it ("%.2f"), so that
// the document does not carry the binary fraction's tail.
twjson::Value rounded(double value, int decimals);

// Runs a command that was asked for --json and prints its document through the
// one writer: with "format_version" and "exit_status" added, and, when the
// command failed before it could print one, an object that carries the error
// message and the exit status instead. What the command says on stderr still
// goes to stderr.
int run_json_document(const std::string& command, const std::function<int()>& run);

// The object of a command that failed before it ran: error, exit_status, format_version.
void print_json_error(const std::string& error, int status);

}  // namespace twctl

#endif
