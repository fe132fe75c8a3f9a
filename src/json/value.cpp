// The JSON value model: values owning their payload, arrays, objects built with
// <<, and the report of a broken precondition.

#include <tidewall/twjson.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

namespace twjson {

namespace detail {

// The file name without the build machine's directories.
static const char* short_name(const char* file) {
    const char* p = std::strstr(file, "src/");
    if (!p) p = std::strstr(file, "include/");
    return p ? p : file;
}

void precondition_failed(const char* expression, const char* file, int line) {
    char text[512];
    std::snprintf(text, sizeof text, "[TWJSON] expression '%s' failed at %s:%d -> ", expression, short_name(file),
                  line);
    std::fprintf(stderr, "%s\n", text);
    throw kind_error(text);
}

}  // namespace detail

#define TWJSON_EXPECT(e) ((e) ? (void)0 : ::twjson::detail::precondition_failed(#e, __FILE__, __LINE__))

// --- Value ---

Value::Value(const char* s) : kind_(NULL_) {
    if (s) {
        new (&string_) std::string(s);
        kind_ = STRING_;
    }
}

Value::Value(const std::string& s) : kind_(STRING_) { new (&string_) std::string(s); }
Value::Value(std::string&& s) noexcept : kind_(STRING_) { new (&string_) std::string(std::move(s)); }
Value::Value(const Array& a) : kind_(ARRAY_), array_(new Array(a)) {}
Value::Value(Array&& a) : kind_(ARRAY_), array_(new Array(std::move(a))) {}
Value::Value(const Object& o) : kind_(OBJECT_), object_(new Object(o)) {}
Value::Value(Object&& o) : kind_(OBJECT_), object_(new Object(std::move(o))) {}

Value::Value(const Value& other) : kind_(NULL_) { copy_from(other); }
Value::Value(Value&& other) noexcept : kind_(NULL_) { move_from(other); }

Value& Value::operator=(const Value& other) {
    if (this != &other) {
        // Copy first: other may live inside this value's payload.
        Value copy(other);
        reset();
        move_from(copy);
    }
    return *this;
}

Value& Value::operator=(Value&& other) noexcept {
    if (this != &other) {
        Value taken(std::move(other));
        reset();
        move_from(taken);
    }
    return *this;
}

Value::~Value() { reset(); }

void Value::reset() noexcept {
    switch (kind_) {
    case STRING_: string_.~basic_string(); break;
    case ARRAY_: delete array_; break;
    case OBJECT_: delete object_; break;
    default: break;
    }
    kind_ = NULL_;
}

// Expects this value to be null.
void Value::copy_from(const Value& other) {
    switch (other.kind_) {
    case NUMBER_: number_ = other.number_; break;
    case BOOL_: bool_ = other.bool_; break;
    case STRING_: new (&string_) std::string(other.string_); break;
    case ARRAY_: array_ = new Array(*other.array_); break;
    case OBJECT_: object_ = new Object(*other.object_); break;
    case NULL_: break;
    }
    kind_ = other.kind_;
}

// Expects this value to be null; leaves other null.
void Value::move_from(Value& other) noexcept {
    switch (other.kind_) {
    case NUMBER_: number_ = other.number_; break;
    case BOOL_: bool_ = other.bool_; break;
    case STRING_:
        new (&string_) std::string(std::move(other.string_));
        other.string_.~basic_string();
        break;
    case ARRAY_: array_ = other.array_; break;
    case OBJECT_: object_ = other.object_; break;
    case NULL_: break;
    }
    kind_ = other.kind_;
    other.kind_ = NULL_;
}

// --- Array ---

Array& Array::operator<<(const Value& v) {
    values_.push_back(v);
    return *this;
}

Array& Array::operator<<(Value&& v) {
    values_.push_back(std::move(v));
    return *this;
}

// --- Object ---

void Object::reset() {
    map_.clear();
    pending_key_.clear();
    has_pending_key_ = false;
}

Object& Object::operator<<(const Value& v) {
    if (!has_pending_key_) return *this << Value(v);
    map_.insert_or_assign(std::move(pending_key_), v);
    pending_key_.clear();
    has_pending_key_ = false;
    return *this;
}

Object& Object::operator<<(Value&& v) {
    if (!has_pending_key_) {
        TWJSON_EXPECT(v.is<String>());
        pending_key_ = std::move(v.get<String>());
        has_pending_key_ = true;
        return *this;
    }
    map_.insert_or_assign(std::move(pending_key_), std::move(v));
    pending_key_.clear();
    has_pending_key_ = false;
    return *this;
}

}  // namespace twjson
