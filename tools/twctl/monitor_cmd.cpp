// twctl monitor [--json]: one storage monitor pass: each volume the node uses,
// whether it is mounted, whether its brick daemons here run, whether it shrank.

#include "cli.h"
#include "json_out.h"

#include <tidewall/tw_storagemonitor.h>

#include <cstdio>
#include <string>

namespace {

// A check's verdict: not supported, good, bad.
const char* text(bool supported, bool bad, const char* good_text, const char* bad_text) {
    return !supported ? "-" : bad ? bad_text : good_text;
}

twjson::Value verdict(bool supported, bool value) { return supported ? twjson::Value(value) : twjson::Value(); }

twjson::Array texts(const std::list<std::string>& lines) {
    twjson::Array out;
    for (const auto& line : lines) out << line;
    return out;
}

int monitor_pass(bool as_json) {
    tw_storagemonitor monitor;
    const auto& volumes = monitor.get_volumeinfo();
    bool healthy = true;
    for (const auto& v : volumes) {
        if ((v.is_mountcheck_supp() && v.get_notmounted_status()) ||
            (v.is_brickcheck_supp() && v.get_brickoffline_status()) ||
            (v.is_sizecheck_supp() && v.get_sizeincorrect_status()))
            healthy = false;
    }
    // The records speak of this node's part only; a volume whose bricks on
    // other nodes are down, or that still heals, is at risk as well.
    const auto& degraded = monitor.check_gluster_degraded();
    const auto& not_run = monitor.get_checks_not_run();
    // 1: a volume is unhealthy or degraded; 3: all seen is well but a check
    // could not run, so nothing can be said of what it covers.
    int status = !healthy || !degraded.empty() ? twctl::exit_failed
                 : !not_run.empty()            ? twctl::exit_not_checked
                                               : twctl::exit_ok;
    if (as_json) {
        twjson::Array records;
        for (const auto& v : volumes) {
            twjson::Object r;
            r << "name" << v.get_volumename() << "mounted"
              << verdict(v.is_mountcheck_supp(), !v.get_notmounted_status()) << "brick_daemons_online"
              << verdict(v.is_brickcheck_supp(), !v.get_brickoffline_status()) << "size_shrunk"
              << verdict(v.is_sizecheck_supp(), v.get_sizeincorrect_status());
            records << std::move(r);
        }
        twjson::Object doc;
        doc << "healthy" << (status == 0) << "volumes" << std::move(records) << "degraded" << texts(degraded)
            << "checks_not_run" << texts(not_run);
        twctl::print_document(doc);
        return status;
    }
    if (volumes.empty() && not_run.empty()) {
        std::printf("no storage volumes to check\n");
        return 0;
    }
    if (!volumes.empty()) std::printf("%-32s %-8s %-14s %s\n", "VOLUME", "MOUNTED", "BRICK DAEMONS", "SIZE");
    for (const auto& v : volumes)
        std::printf("%-32s %-8s %-14s %s\n", v.get_volumename().c_str(),
                    text(v.is_mountcheck_supp(), v.get_notmounted_status(), "yes", "NO"),
                    text(v.is_brickcheck_supp(), v.get_brickoffline_status(), "online", "OFFLINE"),
                    text(v.is_sizecheck_supp(), v.get_sizeincorrect_status(), "ok", "SHRUNK"));
    for (const auto& line : degraded) std::printf("DEGRADED %s\n", line.c_str());
    for (const auto& line : not_run) std::printf("NOT CHECKED %s\n", line.c_str());
    return status;
}

}  // namespace

void twctl::add_monitor_commands(CLI::App& root) {
    static bool json = false;
    add_command(root, "monitor", "storage volumes: mounted, brick daemons online, size not shrunk", [] {
        return monitor_pass(json);
    })->add_flag("--json", json, "print a JSON document");
}
