// The writer. Its text is part of the stored documents, so every byte is fixed:
// one tab per depth, "key": value, members in key order, a comma and a newline
// after every member except the last of an object or array, which has a blank
// instead, and the document ending in "} \n".

#include <tidewall/twjson.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace twjson {

namespace {

// The text under construction: a buffer written through a raw pointer, grown by
// doubling, so that each piece costs a bounds check and a copy, not a call into
// std::string. Each thread keeps its buffer between documents (up to kKeptBytes):
// the text is then copied once into a string of its exact size, instead of the
// memory being taken from the system again, and faulted in, for every document.
class text_buffer {
public:
    static constexpr std::size_t kKeptBytes = 8u << 20;

    static text_buffer& for_this_thread() {
        thread_local text_buffer buffer;
        buffer.size_ = 0;
        return buffer;
    }

    // Room for n more bytes; the caller writes them through the pointer.
    char* room(std::size_t n) {
        if (n > cap_ - size_) grow(n);
        char* p = data_.get() + size_;
        size_ += n;
        return p;
    }
    void put(char c) { *room(1) = c; }
    void put(const char* text, std::size_t n) { std::memcpy(room(n), text, n); }
    template <std::size_t N> void put(const char (&literal)[N]) { put(literal, N - 1); }
    void tabs(unsigned n) { std::memset(room(n), '\t', n); }
    char& back(std::size_t from_end) { return data_[size_ - from_end]; }
    // The text, leaving the buffer empty (and freeing it when it grew large).
    std::string take() {
        std::string text(data_.get(), size_);
        size_ = 0;
        if (cap_ > kKeptBytes) {
            data_.reset();
            cap_ = 0;
        }
        return text;
    }

private:
    void grow(std::size_t n) {
        std::size_t cap = std::max<std::size_t>(cap_ * 2, 4096);
        while (cap - size_ < n) cap *= 2;
        std::unique_ptr<char[]> bigger(new char[cap]);
        if (size_) std::memcpy(bigger.get(), data_.get(), size_);
        data_ = std::move(bigger);
        cap_ = cap;
    }

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t cap_ = 0;
};

// Replacement text per byte (length, then up to six bytes); length 0 for bytes
// copied as they are: all but 0x00 to 0x1F, the quote, the backslash and the
// slash. Built at compile time.
struct escape {
    unsigned char length;
    char text[7];
};

constexpr std::array<escape, 256> make_escapes() {
    std::array<escape, 256> t{};
    const char hex[] = "0123456789abcdef";
    for (unsigned c = 0; c < 0x20; ++c) t[c] = {6, {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15], 0}};
    t['"'] = {2, {'\\', '"'}};
    t['\\'] = {2, {'\\', '\\'}};
    t['/'] = {2, {'\\', '/'}};
    t['\b'] = {2, {'\\', 'b'}};
    t['\f'] = {2, {'\\', 'f'}};
    t['\n'] = {2, {'\\', 'n'}};
    t['\r'] = {2, {'\\', 'r'}};
    t['\t'] = {2, {'\\', 't'}};
    return t;
}

constexpr std::array<escape, 256> kEscapes = make_escapes();

void append_quoted(text_buffer& out, const std::string& text) {
    out.put('"');
    const char* run = text.data();
    const char* end = text.data() + text.size();
    for (const char* p = run; p != end; ++p) {
        const escape& e = kEscapes[static_cast<unsigned char>(*p)];
        if (e.length == 0) continue;
        out.put(run, static_cast<std::size_t>(p - run));
        out.put(e.text, e.length);
        run = p + 1;
    }
    out.put(run, static_cast<std::size_t>(end - run));
    out.put('"');
}

// Powers of five that fit the exact conversion below (5^22 < 2^52).
constexpr std::uint64_t kPow5[23] = {1ull,
                                     5ull,
                                     25ull,
                                     125ull,
                                     625ull,
                                     3125ull,
                                     15625ull,
                                     78125ull,
                                     390625ull,
                                     1953125ull,
                                     9765625ull,
                                     48828125ull,
                                     244140625ull,
                                     1220703125ull,
                                     6103515625ull,
                                     30517578125ull,
                                     152587890625ull,
                                     762939453125ull,
                                     3814697265625ull,
                                     19073486328125ull,
                                     95367431640625ull,
                                     476837158203125ull,
                                     2384185791015625ull};

constexpr std::uint64_t kTen18 = 1000000000000000000ull;
constexpr std::uint64_t kTen19 = 10000000000000000000ull;

// The %.19Lg text of a finite n with 1e-4 <= |n| < 1e19 in fixed notation,
// byte for byte what the C library prints, by exact integer arithmetic: n is
// m * 2^e with a 64-bit m, so n * 10^k = m * 5^k * 2^(e+k) fits 128 bits for
// the k this range needs, and rounding to 19 digits (halves to even, as the
// library does) is exact. False when n needs another notation: the caller
// then asks the library.
bool append_fixed19(text_buffer& out, long double n) {
    const long double a = std::fabs(n);
    if (!(a >= 1e-4L && a < 1e19L)) return false;
    std::uint64_t m = 0;
    int e = 0;  // a = m * 2^e
    int e2 = 0;
    if (std::numeric_limits<long double>::digits == 64) {
        // The x87 format holds m as it is, with its leading bit, beside the exponent.
        unsigned char bytes[sizeof(long double)] = {};
        std::memcpy(bytes, &a, std::min<std::size_t>(sizeof a, 10));
        std::memcpy(&m, bytes, 8);
        e2 = ((bytes[9] & 0x7f) << 8 | bytes[8]) - 16383 + 1;
    } else {
        m = static_cast<std::uint64_t>(std::ldexp(std::frexp(a, &e2), 64));
    }
    e = e2 - 64;
    // a lies in [2^(e2-1), 2^e2): its decimal exponent is this or one more.
    int exp10 = static_cast<int>(std::floor((e2 - 1) * 0.30102999566398120));
    std::uint64_t digits = 0;
    for (int attempt = 0;; ++attempt) {
        if (attempt == 3) return false;
        const int k = 18 - exp10;  // n * 10^k has 19 digits before the point
        if (k < 0 || k > 22) return false;
        unsigned __int128 v = static_cast<unsigned __int128>(m) * kPow5[k];
        const int shift = e + k;
        bool round_up = false;
        if (shift >= 0) {
            if (shift > 11) return false;  // v < 2^116: no overflow below this
            v <<= shift;
        } else if (shift > -128) {
            const unsigned s = static_cast<unsigned>(-shift);
            const unsigned __int128 rest = v & ((static_cast<unsigned __int128>(1) << s) - 1);
            const unsigned __int128 half = static_cast<unsigned __int128>(1) << (s - 1);
            v >>= s;
            round_up = rest > half || (rest == half && (v & 1));
        } else {
            return false;
        }
        // The exponent is decided on the digits before rounding; a rounding
        // that carries into a 20th digit moves it up by one, as in printf.
        if (v >= kTen19) {
            ++exp10;
            continue;
        }
        if (v < kTen18) {
            --exp10;
            continue;
        }
        if (round_up) ++v;
        if (v == kTen19) {
            v = kTen18;
            ++exp10;
        }
        digits = static_cast<std::uint64_t>(v);
        break;
    }
    if (exp10 < -4 || exp10 >= 19) return false;
    char text[20];
    std::to_chars(text, text + sizeof text, digits);  // 19 digits: digits >= 10^18
    int last = 18;  // the last digit kept: trailing zeros of the fraction go
    const int int_digits = exp10 >= 0 ? exp10 + 1 : 0;
    while (last >= int_digits && text[last] == '0') --last;
    if (n < 0) out.put('-');
    if (exp10 >= 0) {
        out.put(text, static_cast<std::size_t>(int_digits));
        if (last >= int_digits) {
            out.put('.');
            out.put(text + int_digits, static_cast<std::size_t>(last + 1 - int_digits));
        }
    } else {
        out.put("0.");
        std::memset(out.room(static_cast<std::size_t>(-exp10 - 1)), '0', static_cast<std::size_t>(-exp10 - 1));
        out.put(text, static_cast<std::size_t>(last + 1));
    }
    return true;
}

// 19 significant digits in the default (%g-like) notation, independent of the
// process locale. JSON has no text for infinities or NaN: they are written as
// null so that the document stays readable.
void append_number(text_buffer& out, long double n) {
    if (!std::isfinite(n)) {
        out.put("null");
        return;
    }
    char buf[64];
    // Whole numbers below 10^19 print as all their digits either way; the
    // integer conversion is much the cheaper.
    if (n > -1e19L && n < 1e19L && n == std::trunc(n) && !(n == 0 && std::signbit(n))) {
        char* p = buf;
        if (n < 0) *p++ = '-';
        auto r = std::to_chars(p, buf + sizeof buf, static_cast<unsigned long long>(std::fabs(n)));
        out.put(buf, static_cast<std::size_t>(r.ptr - buf));
        return;
    }
    if (append_fixed19(out, n)) return;
    auto r = std::to_chars(buf, buf + sizeof buf, n, std::chars_format::general, 19);
    out.put(buf, static_cast<std::size_t>(r.ptr - buf));
}

void append_value(text_buffer& out, const Value& v, unsigned depth);

void append_object(text_buffer& out, const Object& o, unsigned depth) {
    out.put("{\n");
    for (const auto& [key, value] : o.kv_map()) {
        out.tabs(depth + 1);
        append_quoted(out, key);
        out.put(": ");
        append_value(out, value, depth + 1);
        out.put(",\n");
    }
    if (!o.empty()) out.back(2) = ' ';
    out.tabs(depth);
    out.put('}');
}

void append_array(text_buffer& out, const Array& a, unsigned depth) {
    out.put("[\n");
    for (const Value& value : a.values()) {
        out.tabs(depth + 1);
        append_value(out, value, depth + 1);
        out.put(",\n");
    }
    if (!a.empty()) out.back(2) = ' ';
    out.tabs(depth);
    out.put(']');
}

void append_value(text_buffer& out, const Value& v, unsigned depth) {
    switch (v.kind()) {
    case Value::NULL_: out.put("null"); break;
    case Value::BOOL_:
        if (v.get<Boolean>())
            out.put("true");
        else
            out.put("false");
        break;
    case Value::NUMBER_: append_number(out, v.get<Number>()); break;
    case Value::STRING_: append_quoted(out, v.get<String>()); break;
    case Value::ARRAY_: append_array(out, v.get<Array>(), depth); break;
    case Value::OBJECT_: append_object(out, v.get<Object>(), depth); break;
    }
}

// The closing rule applied to the whole text: the last comma, the one after the
// outermost value, becomes a blank.
std::string finish(text_buffer& out) {
    out.put(" \n");
    return out.take();
}

}  // namespace

std::string Object::json() const {
    text_buffer& out = text_buffer::for_this_thread();
    append_object(out, *this, 0);
    return finish(out);
}

std::string Array::json() const {
    text_buffer& out = text_buffer::for_this_thread();
    append_array(out, *this, 0);
    return finish(out);
}

std::string Value::json() const {
    text_buffer& out = text_buffer::for_this_thread();
    append_value(out, *this, 0);
    return finish(out);
}

}  // namespace twjson
