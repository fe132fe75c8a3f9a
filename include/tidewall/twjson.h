#ifndef TIDEWALL_TWJSON_H
#define TIDEWALL_TWJSON_H

// The JSON documents of the node library: a value model with deep-copy
// semantics, building with <<, typed lookups, a lenient parser and a writer
// whose text is fixed byte for byte (tabs, sorted keys, a blank in place of the
// last comma), because stored documents and their readers depend on it.

#include <tidewall/export.h>

#include <cstddef>
#include <iosfwd>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace twjson {

class Array;
class Object;

// Payload types, for has<T> and get<T>.
using String = std::string;
using Number = long double;
using Boolean = bool;
struct Null {};

// The parser refuses documents nested deeper than this (arrays and objects
// counted together, the outermost object being level 1), so that hostile input
// cannot exhaust the stack of the parser, the writer or the destructors.
constexpr unsigned max_depth = 1000;

// A lookup or a build step whose precondition does not hold: get<T> of a
// missing key or of a value of another kind, a first << that is not a key.
// The message, also written to standard error, reads
// "[TWJSON] expression '<expr>' failed at <file>:<line> -> ".
class TW_API kind_error : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

namespace detail {
[[noreturn]] TW_API void precondition_failed(const char* expression, const char* file, int line);
class parser;
}  // namespace detail

#define TWJSON_EXPECT(e) ((e) ? (void)0 : ::twjson::detail::precondition_failed(#e, __FILE__, __LINE__))

// One JSON value: a kind and its payload. A value owns its payload; copying
// copies deeply, moving leaves null behind.
class TW_API Value {
public:
    enum kind_t { NUMBER_, STRING_, BOOL_, NULL_, ARRAY_, OBJECT_ };

    Value() noexcept : kind_(NULL_) {}
    Value(Null) noexcept : kind_(NULL_) {}
    Value(bool b) noexcept : kind_(BOOL_), bool_(b) {}
    Value(int n) noexcept : kind_(NUMBER_), number_(n) {}
    Value(unsigned int n) noexcept : kind_(NUMBER_), number_(n) {}
    Value(long n) noexcept : kind_(NUMBER_), number_(n) {}
    Value(unsigned long n) noexcept : kind_(NUMBER_), number_(n) {}
    Value(long long n) noexcept : kind_(NUMBER_), number_(n) {}
    Value(unsigned long long n) noexcept : kind_(NUMBER_), number_(n) {}
    Value(double n) noexcept : kind_(NUMBER_), number_(n) {}
    Value(long double n) noexcept : kind_(NUMBER_), number_(n) {}
    Value(const char* s);
    Value(const std::string& s);
    Value(std::string&& s) noexcept;
    Value(const Array& a);
    Value(Array&& a);
    Value(const Object& o);
    Value(Object&& o);

    Value(const Value& other);
    Value(Value&& other) noexcept;
    Value& operator=(const Value& other);
    Value& operator=(Value&& other) noexcept;
    ~Value();

    kind_t kind() const { return kind_; }
    // Back to null, freeing the payload.
    void reset() noexcept;

    template <typename T> bool is() const;
    // The payload of kind T; kind_error when the value is of another kind.
    template <typename T> T& get();
    template <typename T> const T& get() const;

    // This value alone in the writer's form, at depth 0.
    std::string json() const;

private:
    friend class detail::parser;
    void copy_from(const Value& other);
    void move_from(Value& other) noexcept;

    kind_t kind_;
    union {
        long double number_;
        bool bool_;
        std::string string_;
        Array* array_;
        Object* object_;
    };
};

// An ordered sequence of values.
class TW_API Array {
public:
    Array() = default;

    std::size_t size() const { return values_.size(); }
    bool empty() const { return values_.empty(); }
    void reset() { values_.clear(); }

    template <typename T> bool has(std::size_t index) const { return index < values_.size() && values_[index].is<T>(); }
    // The payload of element index; kind_error when it is missing or of another kind.
    template <typename T> T& get(std::size_t index) {
        TWJSON_EXPECT(has<T>(index));
        return values_[index].get<T>();
    }
    template <typename T> const T& get(std::size_t index) const {
        TWJSON_EXPECT(has<T>(index));
        return values_[index].get<T>();
    }

    const std::vector<Value>& values() const { return values_; }

    // Appends a copy (or the moved value).
    Array& operator<<(const Value& v);
    Array& operator<<(Value&& v);

    std::string json() const;

private:
    friend class detail::parser;
    std::vector<Value> values_;
};

// A map from key to value, in ascending byte order of the keys. Building with
// <<: the first << takes the key (a string), the next the value to store under
// it; a key given again replaces its value.
class TW_API Object {
public:
    using map_type = std::map<std::string, Value, std::less<>>;

    Object() = default;

    std::size_t size() const { return map_.size(); }
    bool empty() const { return map_.empty(); }
    // Empties the object and forgets a pending key.
    void reset();

    template <typename T> bool has(std::string_view key) const {
        auto it = map_.find(key);
        return it != map_.end() && it->second.is<T>();
    }
    // The payload under key; kind_error when the key is missing or of another kind.
    template <typename T> T& get(std::string_view key) {
        auto it = map_.find(key);
        TWJSON_EXPECT(it != map_.end() && it->second.is<T>());
        return it->second.get<T>();
    }
    template <typename T> const T& get(std::string_view key) const {
        auto it = map_.find(key);
        TWJSON_EXPECT(it != map_.end() && it->second.is<T>());
        return it->second.get<T>();
    }

    const map_type& kv_map() const { return map_; }

    Object& operator<<(const Value& v);
    Object& operator<<(Value&& v);

    // True when the input starts, after white space, with a well-formed object;
    // the object is emptied first and keeps what was read before a failure.
    // Text after the closing brace is not looked at; a seekable stream is left
    // just after it.
    bool parse(const std::string& input);
    bool parse(std::istream& input);

    // The whole object as text: tabs for depth, keys in order, each object and
    // array closing its last member with a blank instead of a comma, and the
    // document ending in "} \n".
    std::string json() const;

private:
    friend class detail::parser;
    map_type map_;
    std::string pending_key_;
    bool has_pending_key_ = false;
};

// Where and why a parse failed, for people fixing a document by hand.
struct TW_API parse_error {
    std::size_t offset = 0;  // bytes from the start of the input
    unsigned line = 1;  // 1-based
    unsigned column = 1;  // 1-based, in bytes
    std::string reason;  // empty after a successful parse
};

// Object::parse, also telling where the input stopped being a document.
TW_API bool parse(Object& target, const std::string& input, parse_error& error);

// --- kinds and payloads ---

template <> inline bool Value::is<String>() const { return kind_ == STRING_; }
template <> inline bool Value::is<Number>() const { return kind_ == NUMBER_; }
template <> inline bool Value::is<Boolean>() const { return kind_ == BOOL_; }
template <> inline bool Value::is<Null>() const { return kind_ == NULL_; }
template <> inline bool Value::is<Array>() const { return kind_ == ARRAY_; }
template <> inline bool Value::is<Object>() const { return kind_ == OBJECT_; }

template <> inline String& Value::get<String>() {
    TWJSON_EXPECT(is<String>());
    return string_;
}
template <> inline Number& Value::get<Number>() {
    TWJSON_EXPECT(is<Number>());
    return number_;
}
template <> inline Boolean& Value::get<Boolean>() {
    TWJSON_EXPECT(is<Boolean>());
    return bool_;
}
template <> inline Array& Value::get<Array>() {
    TWJSON_EXPECT(is<Array>());
    return *array_;
}
template <> inline Object& Value::get<Object>() {
    TWJSON_EXPECT(is<Object>());
    return *object_;
}
template <> inline const String& Value::get<String>() const {
    TWJSON_EXPECT(is<String>());
    return string_;
}
template <> inline const Number& Value::get<Number>() const {
    TWJSON_EXPECT(is<Number>());
    return number_;
}
template <> inline const Boolean& Value::get<Boolean>() const {
    TWJSON_EXPECT(is<Boolean>());
    return bool_;
}
template <> inline const Array& Value::get<Array>() const {
    TWJSON_EXPECT(is<Array>());
    return *array_;
}
template <> inline const Object& Value::get<Object>() const {
    TWJSON_EXPECT(is<Object>());
    return *object_;
}

}  // namespace twjson

#undef TWJSON_EXPECT

#endif
