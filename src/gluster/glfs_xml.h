#ifndef TIDEWALL_FOUNDATION_GLFS_XML_H
#define TIDEWALL_FOUNDATION_GLFS_XML_H

// Shared handling of the gluster command line's XML answers.

#include "gluster/glfs_admin.h"

#include <pugixml.hpp>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

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

// The answers of one pass (a monitor pass, a metrics scrape): each query text
// asked through ask() is asked of gluster once, and every later ask of it in
// the pass, on any thread that joined the pass, gets that first answer.
// Only read-only queries go through ask(); changes are never remembered.
class answers {
public:
    struct answer {
        int rc = 0;
        std::string out, error;
        bool busy = false;
    };
    // The answer to cmd, asking gluster when this pass has not yet: threads
    // asking the same text at once wait for the one that asks.
    const answer& get(const std::string& cmd);
    // Whether this pass has gluster's answer to cmd already (no asking).
    bool answered(const std::string& cmd) const;
    // Every query asked of gluster in this pass, in order (for tests and logs).
    std::vector<std::string> asked() const;

    // The all-volume answers read once per pass (built by glfs_admin, each
    // under its once flag, then only read).
    struct volume_views {
        std::once_flag info_once, status_once;
        bool have_info = false;  // "volume info all" answered
        bool info_busy = false;  // gluster stayed busy: asking volume by volume would be too
        std::map<std::string, glfs_volume> info;
        std::set<std::string> stopped;
        bool have_status = false;  // "volume status all detail" answered
        std::map<std::string, std::map<std::string, bool>> status;  // volume -> brick -> online
    };
    volume_views& views() { return views_; }

private:
    struct slot {
        std::once_flag once;
        answer value;
        bool done = false;  // under mu_
    };
    mutable std::mutex mu_;
    std::map<std::string, std::shared_ptr<slot>> slots_;
    std::vector<std::string> asked_;
    volume_views views_;
};

// Joins the calling thread to a pass for its lifetime: a new one, or (for the
// helper threads of a pass) the one given. Passes nest: the inner one is used
// until it ends.
class query_pass {
public:
    query_pass();
    explicit query_pass(std::shared_ptr<answers> joined);
    ~query_pass();
    query_pass(const query_pass&) = delete;
    query_pass& operator=(const query_pass&) = delete;
    const std::shared_ptr<answers>& shared() const { return answers_; }

private:
    std::shared_ptr<answers> answers_;
    std::shared_ptr<answers> outer_;
};

// The calling thread's pass, or null outside any.
std::shared_ptr<answers> current_pass();

}  // namespace tidewall::glfs_xml

#endif
