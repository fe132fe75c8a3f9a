// The writer. Its text is part of the stored documents, so every byte is fixed:
// one tab per depth, "key": value, members in key order, a comma and a newline
// after every member except the last of an object or array, which has a blank
// instead, and the document ending in "} \n".

#include <tidewall/twjson.h>

#include <array>
#include <charconv>
#include <cmath>
#include <string>

namespace twjson {

namespace {

// Replacement text per byte; empty for bytes copied as they are. Built once,
// on first use (the language guards the initialisation with a lock).
const std::array<std::string, 256>& escape_table() {
    static const std::array<std::string, 256> table = [] {
        std::array<std::string, 256> t;
        static const char hex[] = "0123456789abcdef";
        for (unsigned c = 0; c < 0x20; ++c) t[c] = std::string("\\u00") + hex[c >> 4] + hex[c & 15];
        t['"'] = "\\\"";
        t['\\'] = "\\\\";
        t['/'] = "\\/";
        t['\b'] = "\\b";
        t['\f'] = "\\f";
        t['\n'] = "\\n";
        t['\r'] = "\\r";
        t['\t'] = "\\t";
        return t;
    }();
    return table;
}

// Whether a byte is replaced: 0x00 to 0x1F, the quote, the backslash and the slash.
constexpr bool needs_escape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\' || c == '/'; }

void append_escaped(std::string& out, const std::string& text) {
    const char* run = text.data();
    const char* end = text.data() + text.size();
    for (const char* p = run; p != end; ++p) {
        if (!needs_escape(static_cast<unsigned char>(*p))) continue;
        out.append(run, p);
        out += escape_table()[static_cast<unsigned char>(*p)];
        run = p + 1;
    }
    out.append(run, end);
}

void append_quoted(std::string& out, const std::string& text) {
    out += '"';
    append_escaped(out, text);
    out += '"';
}

// 19 significant digits in the default (%g-like) notation, independent of the
// process locale. JSON has no text for infinities or NaN: they are written as
// null so that the document stays readable.
void append_number(std::string& out, long double n) {
    if (!std::isfinite(n)) {
        out += "null";
        return;
    }
    char buf[64];
    // Whole numbers below 10^19 print as all their digits either way; the
    // integer conversion is much the cheaper.
    if (n > -1e19L && n < 1e19L && n == std::trunc(n) && !(n == 0 && std::signbit(n))) {
        char* p = buf;
        if (n < 0) *p++ = '-';
        auto r = std::to_chars(p, buf + sizeof buf, static_cast<unsigned long long>(std::fabs(n)));
        out.append(buf, r.ptr);
        return;
    }
    auto r = std::to_chars(buf, buf + sizeof buf, n, std::chars_format::general, 19);
    out.append(buf, r.ptr);
}

void append_value(std::string& out, const Value& v, unsigned depth);

void append_object(std::string& out, const Object& o, unsigned depth) {
    out += "{\n";
    for (const auto& [key, value] : o.kv_map()) {
        out.append(depth + 1, '\t');
        append_quoted(out, key);
        out += ": ";
        append_value(out, value, depth + 1);
        out += ",\n";
    }
    if (!o.empty()) out[out.size() - 2] = ' ';
    out.append(depth, '\t');
    out += '}';
}

void append_array(std::string& out, const Array& a, unsigned depth) {
    out += "[\n";
    for (const Value& value : a.values()) {
        out.append(depth + 1, '\t');
        append_value(out, value, depth + 1);
        out += ",\n";
    }
    if (!a.empty()) out[out.size() - 2] = ' ';
    out.append(depth, '\t');
    out += ']';
}

void append_value(std::string& out, const Value& v, unsigned depth) {
    switch (v.kind()) {
    case Value::NULL_: out += "null"; break;
    case Value::BOOL_: out += v.get<Boolean>() ? "true" : "false"; break;
    case Value::NUMBER_: append_number(out, v.get<Number>()); break;
    case Value::STRING_: append_quoted(out, v.get<String>()); break;
    case Value::ARRAY_: append_array(out, v.get<Array>(), depth); break;
    case Value::OBJECT_: append_object(out, v.get<Object>(), depth); break;
    }
}

// The closing rule applied to the whole text: the last comma, the one after the
// outermost value, becomes a blank.
std::string finish(std::string out) {
    out += " \n";
    return out;
}

} // namespace

std::string Object::json() const {
    std::string out;
    append_object(out, *this, 0);
    return finish(std::move(out));
}

std::string Array::json() const {
    std::string out;
    append_array(out, *this, 0);
    return finish(std::move(out));
}

std::string Value::json() const {
    std::string out;
    append_value(out, *this, 0);
    return finish(std::move(out));
}

} // namespace twjson
