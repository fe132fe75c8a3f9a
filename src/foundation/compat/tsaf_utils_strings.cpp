#include "foundation/compat/tsaf_utils.h"

int tsaf_utils::is_present(const std::list<std::string>& items, const std::string& value) {
    for (const auto& i : items)
        if (i == value) return 1;
    return 0;
}

int tsaf_utils::get_name_value_pair(const std::string& line, std::string& name, std::string& value) {
    return get_name_value_pair(line, ':', name, value);
}

int tsaf_utils::get_name_value_pair(const std::string& line, char sep, std::string& name, std::string& value) {
    size_t pos = line.find(sep);
    if (pos == std::string::npos) return -1;
    name = line.substr(0, pos);
    value = line.substr(pos + 1);
    return 0;
}

void tsaf_utils::tokenize(const char* text, const char* separators, std::vector<std::string>& out) {
    if (!text) return;
    std::string s(text);
    std::string seps(separators ? separators : "");
    size_t i = 0;
    while (i < s.size()) {
        size_t start = s.find_first_not_of(seps, i);
        if (start == std::string::npos) break;
        size_t end = s.find_first_of(seps, start);
        out.push_back(s.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        i = end;
    }
}

std::string tsaf_utils::trim(const std::string& s) {
    static const char* ws = " \t\n\r\f\v";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

std::string tsaf_utils::trim_left(const std::string& s, const std::string& chars) {
    size_t b = s.find_first_not_of(chars);
    return b == std::string::npos ? "" : s.substr(b);
}

std::string tsaf_utils::trim_right(const std::string& s, const std::string& chars) {
    size_t e = s.find_last_not_of(chars);
    return e == std::string::npos ? "" : s.substr(0, e + 1);
}
