#include "gluster/glfs_xml.h"

#include "foundation/compat/tsaf_utils.h"
#include "foundation/host/host_backend.h"
#include "foundation/log/log_level.h"
#include "gluster/glfs_admin.h"

#include <tidewall/tw_debug.h>

#include <algorithm>
#include <ctime>

namespace tidewall::glfs_xml {

int run(const std::string& cmd, std::string& out, std::string& error) {
    auto r = host::current().run(cmd, glfs_admin::kTimeLimit);
    if (r.status == 0) {
        out = r.out;
        return 0;
    }
    // gluster prints its complaints on standard output in script mode.
    error = tsaf_utils::trim(r.err.empty() ? r.out : r.err);
    if (r.status == 127) error = "gluster command line not available: " + error;
    if (error.empty()) error = "gluster failed with status " + std::to_string(r.status);
    return r.status;
}

int open(const std::string& xml, pugi::xml_document& doc, pugi::xml_node& cli, std::string& error) {
    auto parsed = doc.load_buffer(xml.data(), xml.size());
    if (!parsed) {
        error = std::string("unreadable gluster output: ") + parsed.description();
        return -1;
    }
    cli = doc.child("cliOutput");
    if (!cli) {
        error = "gluster output without cliOutput";
        return -1;
    }
    if (cli.child("opRet").text().as_int(-1) != 0) {
        error = cli.child_value("opErrstr");
        if (error.empty()) error = "gluster operation failed";
        return -1;
    }
    return 0;
}

bool is_busy_answer(const std::string& error) {
    static const char* const kBusy[] = {"Another transaction is in progress", "Locking failed on",
                                        "try again after some time"};
    for (const char* b : kBusy)
        if (error.find(b) != std::string::npos) return true;
    return false;
}

namespace {
thread_local std::shared_ptr<answers> this_pass;

int ask_gluster(const std::string& cmd, std::string& out, std::string& error, bool* busy);
}  // namespace

std::shared_ptr<answers> current_pass() { return this_pass; }

query_pass::query_pass() : answers_(std::make_shared<answers>()), outer_(this_pass) { this_pass = answers_; }

query_pass::query_pass(std::shared_ptr<answers> joined) : answers_(std::move(joined)), outer_(this_pass) {
    if (!answers_) answers_ = std::make_shared<answers>();
    this_pass = answers_;
}

query_pass::~query_pass() { this_pass = outer_; }

const answers::answer& answers::get(const std::string& cmd) {
    std::shared_ptr<slot> s;
    {
        std::lock_guard<std::mutex> guard(mu_);
        auto& found = slots_[cmd];
        if (!found) found = std::make_shared<slot>();
        s = found;
    }
    std::call_once(s->once, [&] {
        {
            std::lock_guard<std::mutex> guard(mu_);
            asked_.push_back(cmd);
        }
        s->value.rc = ask_gluster(cmd, s->value.out, s->value.error, &s->value.busy);
        std::lock_guard<std::mutex> guard(mu_);
        s->done = true;
    });
    return s->value;
}

bool answers::answered(const std::string& cmd) const {
    std::lock_guard<std::mutex> guard(mu_);
    auto it = slots_.find(cmd);
    return it != slots_.end() && it->second->done;
}

std::vector<std::string> answers::asked() const {
    std::lock_guard<std::mutex> guard(mu_);
    return asked_;
}

int ask(const std::string& cmd, std::string& out, std::string& error, bool* busy) {
    auto pass = this_pass;
    if (!pass) return ask_gluster(cmd, out, error, busy);
    const auto& a = pass->get(cmd);
    if (busy) *busy = a.busy;
    if (a.rc == 0)
        out = a.out;
    else
        error = a.error;
    return a.rc;
}

namespace {

int ask_gluster(const std::string& cmd, std::string& out, std::string& error, bool* busy) {
    auto& h = host::current();
    const std::time_t deadline = h.now() + kBusyRetryLimitS;
    unsigned pause_ms = 500;
    for (;;) {
        if (busy) *busy = false;
        std::string answer;
        int rc = run(cmd, answer, error);
        if (rc == 0) {
            pugi::xml_document doc;
            pugi::xml_node cli;
            if (open(answer, doc, cli, error) == 0) {
                out = answer;
                return 0;
            }
            rc = -1;
        }
        // Busy comes with exit status 0 or with a failure status, as the
        // gluster version has it: either way it is no answer yet.
        if (!is_busy_answer(error)) return rc;
        if (busy) *busy = true;
        tw_debug log;
        log.logMessage("glfs_xml::ask", tidewall::log_level::step, "Gluster busy answering [%s] error [%s]",
                       cmd.c_str(), error.c_str());
        if (h.now() >= deadline) return -1;
        h.sleep_ms(pause_ms);
        pause_ms = std::min(pause_ms * 2, 4000u);
    }
}

}  // namespace

}  // namespace tidewall::glfs_xml
