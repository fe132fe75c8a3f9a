// The value model: kinds, deep copies, building with << and lookups that
// report a wrong kind to the caller instead of ending the process.

#include <tidewall/twjson.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace twjson;

namespace {

TEST(JsonValue, HasAnswersOnlyForTheStoredKind) {
    Object o;
    o << "s"
      << "x"
      << "n" << 1u << "b" << true << "a" << Array() << "o" << Object() << "z" << Null();
    EXPECT_TRUE(o.has<String>("s"));
    EXPECT_TRUE(o.has<Number>("n"));
    EXPECT_TRUE(o.has<Boolean>("b"));
    EXPECT_TRUE(o.has<Array>("a"));
    EXPECT_TRUE(o.has<Object>("o"));
    EXPECT_FALSE(o.has<Number>("s"));
    EXPECT_FALSE(o.has<String>("n"));
    EXPECT_FALSE(o.has<Object>("a"));
    EXPECT_FALSE(o.has<Boolean>("missing"));
    // null is none of the five kinds.
    EXPECT_FALSE(o.has<String>("z"));
    EXPECT_FALSE(o.has<Number>("z"));
    EXPECT_FALSE(o.has<Boolean>("z"));
    EXPECT_FALSE(o.has<Array>("z"));
    EXPECT_FALSE(o.has<Object>("z"));
}

std::string failure_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const kind_error& e) {
        return e.what();
    }
    return "(no failure)";
}

TEST(JsonValue, WrongKindIsReportedToTheCaller) {
    Object o;
    o << "s"
      << "x";
    Array a;
    a << 5u << o;

    testing::internal::CaptureStderr();
    std::string wrong = failure_of([&] { a.get<Object>(0); });
    std::string stderr_text = testing::internal::GetCapturedStderr();
    EXPECT_EQ(0u, wrong.find("[TWJSON] expression '")) << wrong;
    EXPECT_NE(std::string::npos, wrong.find("' failed at "));
    EXPECT_EQ(wrong.size() - 4, wrong.rfind(" -> "));
    EXPECT_EQ(wrong + "\n", stderr_text);

    testing::internal::CaptureStderr();
    EXPECT_NE("(no failure)", failure_of([&] { a.get<Object>(2); }));  // past the end
    EXPECT_NE("(no failure)", failure_of([&] { o.get<Number>("s"); }));  // wrong kind
    EXPECT_NE("(no failure)", failure_of([&] { o.get<String>("missing"); }));  // no such key
    EXPECT_NE("(no failure)", failure_of([&] { Value(1u).get<String>(); }));
    testing::internal::GetCapturedStderr();
    // The right kind is still there afterwards.
    EXPECT_EQ("x", a.get<Object>(1).get<String>("s"));
}

TEST(JsonValue, BuildingTakesKeyThenValueAndReplacesRepeatedKeys) {
    Object o;
    std::string key = "k";
    o << key << 1u << "k"
      << "replaced"
      << "other" << 2ull;
    EXPECT_EQ(2u, o.size());
    EXPECT_EQ("replaced", o.get<String>("k"));
    EXPECT_EQ(2.0L, o.get<Number>("other"));

    // A value where a key is due is refused and leaves the object as it was.
    testing::internal::CaptureStderr();
    EXPECT_NE("(no failure)", failure_of([&] { o << 7u; }));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(2u, o.size());
    o << "after" << true;
    EXPECT_TRUE(o.get<Boolean>("after"));
}

TEST(JsonValue, CopiesAreDeep) {
    Object inner;
    inner << "v" << 1u;
    Array list;
    list << inner;
    Object doc;
    doc << "list" << list << "inner" << inner;

    Object copy = doc;
    copy.get<Array>("list").get<Object>(0).get<Number>("v") = 2;
    copy.get<Object>("inner") << "added" << true;
    EXPECT_EQ(1.0L, doc.get<Array>("list").get<Object>(0).get<Number>("v"));
    EXPECT_FALSE(doc.get<Object>("inner").has<Boolean>("added"));
    // The builder's sources are copied too.
    EXPECT_EQ(1u, inner.size());

    // Assigning a value from inside itself keeps the payload alive while copying.
    Value v(doc);
    v = v.get<Object>().kv_map().at("inner");
    EXPECT_EQ(1.0L, v.get<Object>().get<Number>("v"));

    Value moved(std::move(v));
    EXPECT_TRUE(v.is<Null>());
    EXPECT_TRUE(moved.is<Object>());
}

}  // namespace
