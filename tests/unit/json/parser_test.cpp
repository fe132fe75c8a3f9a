// What the parser accepts (hand-edited documents: comments, single quotes,
// trailing commas, left-out values) and what it refuses, with where it stopped.

#include <tidewall/twjson.h>

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

using namespace twjson;

namespace {

Object parsed(const std::string& text) {
    Object o;
    EXPECT_TRUE(o.parse(text)) << text;
    return o;
}

TEST(JsonParser, StrictJsonDocument) {
    Object o = parsed(R"({"s": "text", "n": -12.5e1, "t": true, "f": false, "z": null,
                         "a": [1, "two", [], {}], "o": {"k": {"deep": [null]}}})");
    EXPECT_EQ("text", o.get<String>("s"));
    EXPECT_EQ(-125.0L, o.get<Number>("n"));
    EXPECT_TRUE(o.get<Boolean>("t"));
    EXPECT_FALSE(o.get<Boolean>("f"));
    EXPECT_TRUE(o.has<Null>("z"));
    const Array& a = o.get<Array>("a");
    ASSERT_EQ(4u, a.size());
    EXPECT_EQ(1.0L, a.get<Number>(0));
    EXPECT_EQ("two", a.get<String>(1));
    EXPECT_TRUE(a.get<Array>(2).empty());
    EXPECT_TRUE(a.get<Object>(3).empty());
    EXPECT_TRUE(o.get<Object>("o").get<Object>("k").get<Array>("deep").has<Null>(0));
}

TEST(JsonParser, CommentsWhereverATokenIsExpected) {
    Object o = parsed(
        "// leading comment\n"
        "{ // after the brace\n"
        "  \"a\" // before the colon\n"
        "  : // before the value\n"
        "  1 // after the value\n"
        "  , // after the comma\n"
        "  \"b\": [ // in an array\n"
        "     true // element\n"
        "  ] // end\n"
        "} // trailing");
    EXPECT_EQ(1.0L, o.get<Number>("a"));
    EXPECT_TRUE(o.get<Array>("b").get<Boolean>(0));
    // A comment may end the input without a newline.
    EXPECT_TRUE(Object().parse("{}//"));
}

TEST(JsonParser, LenientForms) {
    // Single quotes, where a double quote needs no escape.
    Object o = parsed("{'k': 'say \"hi\"', \"x\": 'it\\'s'}");
    EXPECT_EQ("say \"hi\"", o.get<String>("k"));
    EXPECT_EQ("it's", o.get<String>("x"));
    // A comma before the closing brace.
    EXPECT_EQ(2u, parsed("{\"a\": 1, \"b\": {\"c\": 2,},}").size());
    // A value left out before a comma reads as null, in objects and arrays.
    o = parsed("{\"a\": , \"b\": [, 1, , 2]}");
    EXPECT_TRUE(o.has<Null>("a"));
    const Array& b = o.get<Array>("b");
    ASSERT_EQ(4u, b.size());
    EXPECT_TRUE(b.has<Null>(0));
    EXPECT_TRUE(b.has<Number>(1));
    EXPECT_TRUE(b.has<Null>(2));
    // A key given twice keeps its last value.
    EXPECT_EQ("second", parsed("{\"k\": \"first\", \"k\": \"second\"}").get<String>("k"));
    // Text after the closing brace is not looked at.
    EXPECT_EQ(1u, parsed("{\"a\": 1} trailing garbage {").size());
}

TEST(JsonParser, EscapesGiveBytes) {
    Object o = parsed(R"({"e": "\"\\\/\b\f\n\r\t", "u": "\u0041\u00e9\u1234\u41z\u004", "keep": "\q\'\x"})");
    EXPECT_EQ("\"\\/\b\f\n\r\t", o.get<String>("e"));
    // \u takes up to four hex digits and keeps the low byte of their value.
    EXPECT_EQ(std::string("A\xe9\x34"
                          "Az\x04"),
              o.get<String>("u"));
    // Any other escaped character keeps its backslash (\' too, inside double quotes).
    EXPECT_EQ("\\q\\'\\x", o.get<String>("keep"));
    // Inside single quotes an escaped double quote is no escape either.
    EXPECT_EQ("a\\\"b", parsed(R"({'s': 'a\"b'})").get<String>("s"));
    // Raw bytes, NUL included, pass through.
    EXPECT_EQ(std::string("a\0\xff\n", 4), parsed(std::string("{\"s\": \"a\0\xff\n\"}", 13)).get<String>("s"));
}

TEST(JsonParser, NumbersAsTheStandardStreamReadsThem) {
    Object o = parsed(
        "{\"a\": +5, \"b\": .5, \"c\": 5., \"d\": 1.e2, \"e\": -0, \"f\": 00012, \"g\": 1.5E-3,"
        " \"h\": 18446744073709551615, \"i\": 123456789012345678901234, \"j\": 1e-4950}");
    EXPECT_EQ(5.0L, o.get<Number>("a"));
    EXPECT_EQ(0.5L, o.get<Number>("b"));
    EXPECT_EQ(5.0L, o.get<Number>("c"));
    EXPECT_EQ(100.0L, o.get<Number>("d"));
    EXPECT_TRUE(std::signbit(o.get<Number>("e")));
    EXPECT_EQ(12.0L, o.get<Number>("f"));
    EXPECT_EQ(1.5e-3L, o.get<Number>("g"));
    EXPECT_EQ(18446744073709551615.0L, o.get<Number>("h"));
    EXPECT_EQ(123456789012345678901234.0L, o.get<Number>("i"));
    EXPECT_GE(1e-4940L, o.get<Number>("j"));  // underflow reads as a tiny number, as the stream does
    // A number stops where the stream stops: "0x10" is 0 followed by junk.
    EXPECT_FALSE(Object().parse("{\"a\": 0x10}"));
}

struct rejected {
    const char* text;
    const char* reason;
    unsigned line, column;
};

class JsonParserRejects : public ::testing::TestWithParam<rejected> {};

TEST_P(JsonParserRejects, WithReasonAndPlace) {
    const rejected& r = GetParam();
    Object o;
    EXPECT_FALSE(o.parse(std::string(r.text)));
    parse_error error;
    EXPECT_FALSE(twjson::parse(o, r.text, error));
    EXPECT_EQ(r.reason, error.reason);
    EXPECT_EQ(r.line, error.line);
    EXPECT_EQ(r.column, error.column);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonParserRejects,
    ::testing::Values(
        rejected{"", "expected '{' to open the document", 1, 1},
        rejected{"  \n [1]", "expected '{' to open the document", 2, 2},
        rejected{"{\"a\": 1", "expected ',' or '}'", 1, 8}, rejected{"{\"a\": \"open", "unterminated string", 1, 12},
        rejected{"{\"a\": \"ends in a backslash\\", "unterminated string", 1, 28},
        rejected{"{a: 1}", "expected a quoted key", 1, 2}, rejected{"{\"a\" 1}", "expected ':' after the key", 1, 6},
        rejected{"{\"a\": }", "expected a value", 1, 7}, rejected{"{,}", "expected a quoted key", 1, 2},
        rejected{"{\"a\": 1,,}", "expected a quoted key", 1, 9}, rejected{"{\"a\": [1,]}", "expected a value", 1, 10},
        rejected{"{\"a\": [1 2]}", "expected ',' or ']'", 1, 10},
        rejected{"{\"a\": /* no */ 1}", "expected a value", 1, 7}, rejected{"{\"a\": 1e}", "not a number", 1, 7},
        rejected{"{\"a\": 1e+}", "not a number", 1, 7}, rejected{"{\"a\": -}", "not a number", 1, 7},
        rejected{"{\"a\": 1e99999}", "not a number", 1, 7}, rejected{"{\"a\": tru}", "expected a value", 1, 7},
        rejected{"{\"a\": NaN}", "expected a value", 1, 7},
        rejected{"{\"a\": \"\\u\"}", "\\u without a hex digit", 1, 8},
        rejected{"{\"a\":\n\t{\"b\":\n\t\t[1, x]}}", "expected a value", 3, 7}));

TEST(JsonParser, DeepNestingFailsCleanly) {
    // 100,000 open brackets: a recursive reader without a bound would run the stack out.
    const std::string brackets = "{\"a\": " + std::string(100000, '[');
    Object o;
    parse_error error;
    EXPECT_FALSE(twjson::parse(o, brackets, error));
    EXPECT_EQ("nested too deeply", error.reason);
    EXPECT_EQ(6u + max_depth - 1, error.offset);

    std::string objects;
    for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
    EXPECT_FALSE(o.parse(objects));

    // The bound itself is reachable: max_depth levels, the outermost object included.
    auto nested = [](unsigned levels) {
        std::string text = "{\"a\": ";
        text += std::string(levels - 1, '[') + std::string(levels - 1, ']') + "}";
        return text;
    };
    EXPECT_TRUE(o.parse(nested(max_depth)));
    EXPECT_FALSE(o.parse(nested(max_depth + 1)));
}

TEST(JsonParser, ParseEmptiesTheObjectFirst) {
    Object o;
    o << "stale" << 1u;
    EXPECT_TRUE(o.parse("{\"fresh\": 2}"));
    EXPECT_FALSE(o.has<Number>("stale"));
    EXPECT_TRUE(o.has<Number>("fresh"));
    EXPECT_FALSE(o.parse("{\"x\": 1, \"y\": }"));
    EXPECT_FALSE(o.has<Number>("fresh"));
}

TEST(JsonParser, StreamIsLeftAfterTheDocument) {
    std::istringstream in("  {\"a\": [1]}  rest of the file");
    Object o;
    EXPECT_TRUE(o.parse(in));
    EXPECT_EQ(1u, o.get<Array>("a").size());
    std::string rest;
    std::getline(in, rest);
    EXPECT_EQ("  rest of the file", rest);

    std::istringstream bad("{\"a\": ");
    EXPECT_FALSE(o.parse(bad));
}

TEST(JsonParser, WrittenTextReadsBackToTheSameText) {
    Object inner;
    inner << "bytes" << std::string("\x01\x1f\"\\/\b\f\n\r\t\x7f\xe9", 12) << "n" << 1.5L << "big"
          << 18446744073709551615ull << "neg" << -3;
    Array list;
    list << inner << Null() << false << Array() << Object() << "";
    Object doc;
    doc << "list" << list << ""
        << "empty key";
    const std::string text = doc.json();
    Object back;
    ASSERT_TRUE(back.parse(text));
    EXPECT_EQ(text, back.json());
    EXPECT_EQ(std::string("\x01\x1f\"\\/\b\f\n\r\t\x7f\xe9", 12),
              back.get<Array>("list").get<Object>(0).get<String>("bytes"));
}

}  // namespace
