// The parser. It is lenient where hand-edited documents need it: "//" comments,
// single-quoted strings, a comma before the closing brace of an object, a
// missing value before a comma read as null. Numbers follow the standard
// stream's reading of a long double. Nesting is bounded by max_depth, so that
// no input can run the stack out.

#include <tidewall/twjson.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <istream>
#include <iterator>
#include <locale.h>
#include <string>

namespace twjson {
namespace detail {

class parser {
public:
    parser(const char* begin, const char* end) : begin_(begin), p_(begin), end_(end) {}

    bool document(Object& target) {
        if (!match('{')) return fail("expected '{' to open the document");
        return object_body(target, 1);
    }

    std::size_t consumed() const { return static_cast<std::size_t>(p_ - begin_); }

    void describe(parse_error& error) const {
        error = parse_error();
        if (!reason_) return;
        error.reason = reason_;
        error.offset = static_cast<std::size_t>(error_at_ - begin_);
        for (const char* q = begin_; q != error_at_; ++q) {
            if (*q == '\n') {
                ++error.line;
                error.column = 1;
            } else {
                ++error.column;
            }
        }
    }

private:
    // Records the first failure: the innermost one, where the text went wrong.
    bool fail(const char* reason) {
        if (!reason_) {
            reason_ = reason;
            error_at_ = p_;
        }
        return false;
    }

    static bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
    static bool is_digit(char c) { return c >= '0' && c <= '9'; }
    static int hex_value(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    // White space and "//" comments running to the end of the line.
    void skip() {
        for (;;) {
            while (p_ != end_ && is_space(*p_)) ++p_;
            if (end_ - p_ >= 2 && p_[0] == '/' && p_[1] == '/') {
                p_ += 2;
                while (p_ != end_ && *p_ != '\n') ++p_;
                continue;
            }
            return;
        }
    }

    bool match(char c) {
        skip();
        if (p_ != end_ && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }

    bool match_word(const char* word, std::size_t n) {
        if (static_cast<std::size_t>(end_ - p_) < n || std::char_traits<char>::compare(p_, word, n) != 0) return false;
        p_ += n;
        return true;
    }

    // A string opened by the quote under the cursor and closed by the same quote.
    bool string(std::string& out) {
        const char quote = *p_++;
        for (;;) {
            const char* run = p_;
            while (p_ != end_ && *p_ != quote && *p_ != '\\') ++p_;
            out.append(run, p_);
            if (p_ == end_) return fail("unterminated string");
            if (*p_ == quote) {
                ++p_;
                return true;
            }
            // A backslash.
            if (end_ - p_ < 2) {
                p_ = end_;
                return fail("unterminated string");
            }
            const char c = p_[1];
            p_ += 2;
            switch (c) {
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                // Up to four hex digits; the value's low byte is the character.
                unsigned value = 0;
                int digits = 0;
                for (int h; digits < 4 && p_ != end_ && (h = hex_value(*p_)) >= 0; ++digits, ++p_)
                    value = value * 16 + static_cast<unsigned>(h);
                if (digits == 0) {
                    p_ -= 2;
                    return fail("\\u without a hex digit");
                }
                out += static_cast<char>(value & 0xff);
                break;
            }
            default:
                if (c == quote) {
                    out += c;
                } else {
                    // Not an escape: both characters stay.
                    out += '\\';
                    out += c;
                }
            }
        }
    }

    // What the standard stream reads as a long double: an optional sign, digits
    // with an optional decimal point (at least one digit), and an optional
    // exponent that must have digits. Out-of-range magnitudes fail; the cursor
    // is then back where it was.
    bool number(long double& out) {
        const char* start = p_;
        const char* q = p_;
        if (q != end_ && (*q == '+' || *q == '-')) ++q;
        const char* digits_start = q;
        std::size_t int_digits = 0, frac_digits = 0;
        while (q != end_ && is_digit(*q)) ++q, ++int_digits;
        bool plain = true;
        if (q != end_ && *q == '.') {
            plain = false;
            ++q;
            while (q != end_ && is_digit(*q)) ++q, ++frac_digits;
        }
        if (int_digits + frac_digits == 0) return false;
        if (q != end_ && (*q == 'e' || *q == 'E')) {
            plain = false;
            ++q;
            if (q != end_ && (*q == '+' || *q == '-')) ++q;
            const char* exp_start = q;
            while (q != end_ && is_digit(*q)) ++q;
            if (q == exp_start) return false;
        }
        // Whole numbers of up to 19 digits are exact in a long double.
        if (plain && int_digits <= 19) {
            unsigned long long v = 0;
            for (const char* d = digits_start; d != q; ++d) v = v * 10 + static_cast<unsigned>(*d - '0');
            out = (*start == '-') ? -static_cast<long double>(v) : static_cast<long double>(v);
            p_ = q;
            return true;
        }
        // strtold on a terminated copy, in the C locale whatever the process set.
        static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        std::string text(start, q);
        char* stop = nullptr;
        long double v = strtold_l(text.c_str(), &stop, c_locale);
        if (stop != text.c_str() + text.size()) return false;
        if (v == HUGE_VALL || v == -HUGE_VALL) return false;
        out = v;
        p_ = q;
        return true;
    }

    bool value(Value& v, unsigned depth) {
        skip();
        if (p_ == end_) return fail("expected a value");
        const char c = *p_;
        if (c == '"' || c == '\'') {
            v = Value(std::string());
            return string(v.string_);
        }
        if (is_digit(c) || c == '-' || c == '+' || c == '.') {
            long double n = 0;
            if (!number(n)) return fail("not a number");
            v = Value(n);
            return true;
        }
        if (match_word("true", 4)) {
            v = Value(true);
            return true;
        }
        if (match_word("false", 5)) {
            v = Value(false);
            return true;
        }
        if (match_word("null", 4)) {
            v.reset();
            return true;
        }
        if (c == '[' || c == '{') {
            if (depth + 1 > max_depth) return fail("nested too deeply");
            ++p_;
            if (c == '[') {
                v = Value(Array());
                return array_body(*v.array_, depth + 1);
            }
            v = Value(Object());
            return object_body(*v.object_, depth + 1);
        }
        // A value left out before a comma counts as null.
        if (c == ',') {
            v.reset();
            return true;
        }
        return fail("expected a value");
    }

    // After the opening bracket.
    bool array_body(Array& a, unsigned depth) {
        if (match(']')) return true;
        for (;;) {
            a.values_.emplace_back();
            if (!value(a.values_.back(), depth)) return false;
            if (match(',')) continue;
            if (match(']')) return true;
            return fail("expected ',' or ']'");
        }
    }

    // After the opening brace.
    bool object_body(Object& o, unsigned depth) {
        if (match('}')) return true;
        for (;;) {
            skip();
            if (p_ == end_ || (*p_ != '"' && *p_ != '\'')) return fail("expected a quoted key");
            std::string key;
            if (!string(key)) return false;
            if (!match(':')) return fail("expected ':' after the key");
            Value& slot = o.map_[std::move(key)];
            slot.reset();  // a key given again keeps the last value
            if (!value(slot, depth)) return false;
            if (match(',')) {
                if (match('}')) return true;
                continue;
            }
            if (match('}')) return true;
            return fail("expected ',' or '}'");
        }
    }

    const char* begin_;
    const char* p_;
    const char* end_;
    const char* reason_ = nullptr;
    const char* error_at_ = nullptr;
};

}  // namespace detail

bool parse(Object& target, const std::string& input, parse_error& error) {
    target.reset();
    detail::parser p(input.data(), input.data() + input.size());
    bool ok = p.document(target);
    p.describe(error);
    return ok;
}

bool Object::parse(const std::string& input) {
    reset();
    detail::parser p(input.data(), input.data() + input.size());
    return p.document(*this);
}

bool Object::parse(std::istream& input) {
    reset();
    std::streampos start = input.tellg();
    std::string text{std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
    detail::parser p(text.data(), text.data() + text.size());
    bool ok = p.document(*this);
    // Give back what follows the document where the stream allows it.
    if (start != std::streampos(-1)) {
        input.clear();
        input.seekg(start + static_cast<std::streamoff>(p.consumed()));
    }
    return ok;
}

}  // namespace twjson
