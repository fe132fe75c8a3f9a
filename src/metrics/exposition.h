#ifndef TIDEWALL_METRICS_EXPOSITION_H
#define TIDEWALL_METRICS_EXPOSITION_H

// Metric families and their rendering in the Prometheus text exposition format,
// version 0.0.4: a HELP and a TYPE line per family, then one line per sample,
// label values and help text escaped as the format asks.

#include <string>
#include <utility>
#include <vector>

namespace tidewall::metrics {

using labels = std::vector<std::pair<std::string, std::string>>;

struct sample {
    labels label_set;
    double value = 0;
};

struct family {
    std::string name;
    std::string help;
    std::string type;  // "gauge" or "counter"
    std::vector<sample> samples;
};

// The families one collector gathers, in the order they were first named.
class family_set {
public:
    // Adds a gauge sample; the first call for a name fixes its help text.
    void gauge(const std::string& name, const std::string& help, labels label_set, double value);
    // A family with no sample yet, so that it is listed even when empty.
    family& declare(const std::string& name, const std::string& help, const std::string& type);
    const std::vector<family>& families() const { return families_; }
    void append(const family_set& other);

private:
    std::vector<family> families_;
};

// Backslash, double quote and line feed escaped; bytes that are not UTF-8
// replaced by U+FFFD (the format's text is UTF-8).
std::string escape_label_value(const std::string& value);
// Backslash and line feed escaped; not UTF-8 as above.
std::string escape_help(const std::string& help);
// Integers without a fraction, others in the fewest digits (15 to 17) that
// read back exactly; NaN, +Inf and -Inf as the format spells them.
std::string format_value(double value);
// The families in order; a family without samples is left out (a TYPE line
// with no sample says nothing).
std::string render(const std::vector<family>& families);

}  // namespace tidewall::metrics

#endif
