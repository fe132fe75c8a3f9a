#ifndef TIDEWALL_FOUNDATION_GLFS_XML_H
#define TIDEWALL_FOUNDATION_GLFS_XML_H

// Shared handling of the gluster command line's XML answers.

#include <pugixml.hpp>

#include <string>

namespace tidewall::glfs_xml {

// Runs a gluster command with the administration time limit; 0 and its output,
// else its status and the error text.
int run(const std::string& cmd, std::string& out, std::string& error);

// Loads an answer and checks that the operation succeeded (opRet 0); 0 and the
// cliOutput node, else -1 and the reason.
int open(const std::string& xml, pugi::xml_document& doc, pugi::xml_node& cli, std::string& error);

// Whether an error answer (opRet -1) is gluster saying it is busy now (the
// cluster lock held by another transaction, or a peer's lock not answered):
// such an answer says nothing about the volume and is worth asking again.
bool is_busy_answer(const std::string& error);

// Seconds a query keeps asking again while gluster answers busy.
constexpr unsigned kBusyRetryLimitS = 30;

// Runs a gluster query and checks its answer (opRet 0). A busy answer is asked
// again (a pause between tries) until kBusyRetryLimitS has passed. 0 and the
// output, else non-zero and the reason; busy is set when the last answer was busy.
int ask(const std::string& cmd, std::string& out, std::string& error, bool* busy = nullptr);

} // namespace tidewall::glfs_xml

#endif
