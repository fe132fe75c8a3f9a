#include "metrics/exposition.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tidewall::metrics {

family& family_set::declare(const std::string& name, const std::string& help, const std::string& type) {
    for (auto& f : families_)
        if (f.name == name) return f;
    families_.push_back(family{name, help, type, {}});
    return families_.back();
}

void family_set::gauge(const std::string& name, const std::string& help, labels label_set, double value) {
    declare(name, help, "gauge").samples.push_back(sample{std::move(label_set), value});
}

void family_set::append(const family_set& other) {
    for (const auto& f : other.families_) {
        family& mine = declare(f.name, f.help, f.type);
        mine.samples.insert(mine.samples.end(), f.samples.begin(), f.samples.end());
    }
}

namespace {
std::string escaped(const std::string& text, bool quote) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' && quote)
            out += "\\\"";
        else
            out += c;
    }
    return out;
}
}  // namespace

// Label values must be UTF-8; tool output and registry values need not be. A
// byte that starts no valid sequence becomes U+FFFD.
std::string valid_utf8(const std::string& in) {
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    size_t n = in.size(), i = 0;
    while (i < n) {
        unsigned char c = p[i];
        size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xe ? 3 : (c >> 3) == 0x1e ? 4 : 0;
        bool ok = len != 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) ok = (p[i + k] & 0xc0) == 0x80;
        if (ok && len > 1) {
            unsigned cp = c & (0x7f >> len);
            for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (p[i + k] & 0x3f);
            // Overlong forms, surrogates and values past U+10FFFF are no text either.
            static const unsigned min_cp[] = {0, 0, 0x80, 0x800, 0x10000};
            ok = cp >= min_cp[len] && cp <= 0x10ffff && (cp < 0xd800 || cp > 0xdfff);
        }
        if (ok) {
            out.append(in, i, len);
            i += len;
        } else {
            out += "\xef\xbf\xbd";
            ++i;
        }
    }
    return out;
}

std::string escape_label_value(const std::string& value) { return escaped(valid_utf8(value), true); }

std::string escape_help(const std::string& help) { return escaped(valid_utf8(help), false); }

std::string format_value(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char buf[64];
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        std::snprintf(buf, sizeof buf, "%.0f", value);
    else {
        // The shortest of 15 to 17 digits that reads back as the same number.
        for (int digits = 15; digits <= 17; ++digits) {
            std::snprintf(buf, sizeof buf, "%.*g", digits, value);
            if (std::strtod(buf, nullptr) == value) break;
        }
    }
    return buf;
}

std::string render(const std::vector<family>& families) {
    std::string out;
    for (const auto& f : families) {
        if (f.samples.empty()) continue;
        out += "# HELP " + f.name + " " + escape_help(f.help) + "\n";
        out += "# TYPE " + f.name + " " + f.type + "\n";
        for (const auto& s : f.samples) {
            out += f.name;
            if (!s.label_set.empty()) {
                out += "{";
                for (size_t i = 0; i < s.label_set.size(); ++i) {
                    if (i) out += ",";
                    out += s.label_set[i].first + "=\"" + escape_label_value(s.label_set[i].second) + "\"";
                }
                out += "}";
            }
            out += " " + format_value(s.value) + "\n";
        }
    }
    return out;
}

}  // namespace tidewall::metrics
