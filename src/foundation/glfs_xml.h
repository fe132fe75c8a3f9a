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

} // namespace tidewall::glfs_xml

#endif
