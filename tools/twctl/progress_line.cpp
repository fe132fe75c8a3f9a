#include "progress_line.h"

#include <cstdio>
#include <unistd.h>

namespace twctl {

namespace {

// A terminal is redrawn at most this often: drawing is cheaper than the work.
const std::chrono::milliseconds kRedrawEvery(200);

std::string duration_text(double s) {
    char buf[32];
    unsigned long long whole = static_cast<unsigned long long>(s + 0.5);
    if (whole >= 3600)
        std::snprintf(buf, sizeof buf, "%lluh%02llum", whole / 3600, whole / 60 % 60);
    else if (whole >= 60)
        std::snprintf(buf, sizeof buf, "%llum%02llus", whole / 60, whole % 60);
    else
        std::snprintf(buf, sizeof buf, "%llus", whole);
    return buf;
}

}  // namespace

std::string progress_text(const std::string& label, unsigned long long done, unsigned long long total, double mib_done,
                          const char* unit, double seconds) {
    char buf[160];
    int pct = total ? static_cast<int>(done * 100 / total) : 100;
    std::snprintf(buf, sizeof buf, "%s: %llu/%llu %s (%d%%)", label.c_str(), done, total, unit, pct);
    std::string text = buf;
    if (seconds > 0 && done > 0) {
        std::snprintf(buf, sizeof buf, ", %.1f MiB/s", mib_done / seconds);
        text += buf;
        if (done < total) text += ", " + duration_text(seconds * static_cast<double>(total - done) / done) + " left";
    }
    return text;
}

progress_line::progress_line(bool enabled)
    : on_(enabled && ::isatty(STDOUT_FILENO) == 1), start_(std::chrono::steady_clock::now()) {}

progress_line::~progress_line() { clear(); }

void progress_line::restart() { start_ = std::chrono::steady_clock::now(); }

void progress_line::update(const std::string& label, unsigned long long done, unsigned long long total, double mib_done,
                           const char* unit, bool at_once) {
    if (!on_) return;
    auto now = std::chrono::steady_clock::now();
    if (!at_once && now - (drawn_ ? last_draw_ : start_) < kRedrawEvery) return;
    last_draw_ = now;
    double s = std::chrono::duration<double>(now - start_).count();
    std::printf("\r%s\033[K", progress_text(label, done, total, mib_done, unit, s).c_str());
    std::fflush(stdout);
    drawn_ = true;
}

void progress_line::clear() {
    if (!drawn_) return;
    std::printf("\r\033[K");
    std::fflush(stdout);
    drawn_ = false;
}

}  // namespace twctl
