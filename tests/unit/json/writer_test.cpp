// The writer's text is stored and compared by other programs: every byte counts.

#include <tidewall/twjson.h>

#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

using namespace twjson;

namespace {

TEST(JsonWriter, DiskExampleByteForByte) {
    Object disk;
    disk << "name"
         << "sda";
    Array disks;
    disks << disk;
    Object doc;
    doc << "disk" << disks;
    EXPECT_EQ(
        "{\n"
        "\t\"disk\": [\n"
        "\t\t{\n"
        "\t\t\t\"name\": \"sda\" \n"
        "\t\t} \n"
        "\t] \n"
        "} \n",
        doc.json());
}

TEST(JsonWriter, KeysInByteOrderAtEveryDepthAndLastCommaOnlyReplaced) {
    Object inner;
    inner << "b" << 2u << "a" << 1u << "B" << 0u;
    Object doc;
    doc << "volumeGroup" << inner << "node"
        << "n"
        << "disk" << true;
    EXPECT_EQ(
        "{\n"
        "\t\"disk\": true,\n"
        "\t\"node\": \"n\",\n"
        "\t\"volumeGroup\": {\n"
        "\t\t\"B\": 0,\n"
        "\t\t\"a\": 1,\n"
        "\t\t\"b\": 2 \n"
        "\t} \n"
        "} \n",
        doc.json());
}

TEST(JsonWriter, EmptyContainersAndScalars) {
    EXPECT_EQ("{\n} \n", Object().json());

    Object doc;
    doc << "arr" << Array() << "obj" << Object() << "nil" << Null() << "f" << false;
    EXPECT_EQ(
        "{\n"
        "\t\"arr\": [\n"
        "\t],\n"
        "\t\"f\": false,\n"
        "\t\"nil\": null,\n"
        "\t\"obj\": {\n"
        "\t} \n"
        "} \n",
        doc.json());
}

TEST(JsonWriter, ArraysOfArraysIndentPerDepth) {
    Array inner;
    inner << 1u << "x";
    Array outer;
    outer << inner << Array() << Object();
    Object doc;
    doc << "a" << outer;
    EXPECT_EQ(
        "{\n"
        "\t\"a\": [\n"
        "\t\t[\n"
        "\t\t\t1,\n"
        "\t\t\t\"x\" \n"
        "\t\t],\n"
        "\t\t[\n"
        "\t\t],\n"
        "\t\t{\n"
        "\t\t} \n"
        "\t] \n"
        "} \n",
        doc.json());
}

TEST(JsonWriter, EscapesControlBytesQuotesBackslashAndSlashInValuesAndKeys) {
    std::string all_control;
    for (int c = 0; c < 0x20; ++c) all_control += static_cast<char>(c);
    Object doc;
    doc << "c" << all_control;
    doc << "q\"/\\"
        << "a/b \"c\" d\\e";
    doc << "hi" << std::string("\x7f\x80\xc3\xa9\xff");
    EXPECT_EQ(
        "{\n"
        "\t\"c\": \"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e"
        "\\u000f\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b"
        "\\u001c\\u001d\\u001e\\u001f\",\n"
        "\t\"hi\": \"\x7f\x80\xc3\xa9\xff\",\n"
        "\t\"q\\\"\\/\\\\\": \"a\\/b \\\"c\\\" d\\\\e\" \n"
        "} \n",
        doc.json());
}

std::string number_text(const Value& v) {
    Object o;
    o << "n" << v;
    std::string text = o.json();
    const std::string head = "{\n\t\"n\": ";
    EXPECT_EQ(0u, text.find(head));
    return text.substr(head.size(), text.size() - head.size() - std::string(" \n} \n").size());
}

TEST(JsonWriter, NumbersWithNineteenSignificantDigits) {
    EXPECT_EQ("0", number_text(0u));
    EXPECT_EQ("4096", number_text(4096u));
    EXPECT_EQ("-17", number_text(-17));
    EXPECT_EQ("1234567890123456789", number_text(1234567890123456789ull));
    // Twenty digits no longer fit: exponent form, rounded to 19 digits.
    EXPECT_EQ("1.844674407370955162e+19", number_text(std::numeric_limits<unsigned long long>::max()));
    EXPECT_EQ("0.5", number_text(0.5L));
    EXPECT_EQ("-2.25", number_text(-2.25L));
    EXPECT_EQ("0.1", number_text(0.1L));
    EXPECT_EQ("0.1000000000000000056", number_text(0.1));  // a double's 0.1, seen to 19 digits
    EXPECT_EQ("1e+20", number_text(1e20L));
    EXPECT_EQ("1e-07", number_text(1e-7L));
    EXPECT_EQ("3.333333333333333333", number_text(10.0L / 3.0L));
}

// What the C library prints for %.19Lg in the C locale: the bytes stored
// documents hold.
std::string printf_text(long double n) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, n, std::chars_format::general, 19);
    return std::string(buf, r.ptr);
}

TEST(JsonWriter, FractionsMatchTheLibrarysNineteenDigitsAcrossTheirRange) {
    const long double edges[] = {
        1e-4L,
        -1e-4L,
        0.000099999999999999999999L,
        0.00010000000000000000001L,
        0.1L,
        0.3L,
        2.0L / 3.0L,
        0.99999999999999999999L,  // rounds up to a whole 1
        9.9999999999999999999L,
        99.999999999999999995L,
        1.0L / 1024,
        5.0L / 7.0L,
        123456789.123456789L,
        4503599627370496.5L,
        9223372036854775807.5L,
        999999999999999999.9L,
        9999999999999999999.5L,
        // Ties at the 19th digit, rounded to even: 2^-k has all its digits.
        0.0001220703125L,
        1.0000000000000000005L,
        2.0000000000000000005L,
        1.5L + 1.0L / (1ull << 62),
    };
    for (long double n : edges) EXPECT_EQ(printf_text(n), number_text(n)) << static_cast<double>(n);

    // Random bit patterns over every binary exponent the fixed notation covers
    // and a little past both ends.
    std::mt19937_64 bits(18);
    unsigned mismatches = 0;
    for (int exp2 = -20; exp2 <= 70; ++exp2) {
        for (int i = 0; i < 400; ++i) {
            long double n = std::ldexp(static_cast<long double>(bits() | (1ull << 63)), exp2 - 64);
            if (i % 4 == 1) n = -n;
            if (i % 4 == 2) n = std::ldexp(std::floor(std::ldexp(n, 12)), -12);  // a short binary fraction
            if (i % 8 == 3) n = static_cast<double>(n);
            if (printf_text(n) != number_text(n) && ++mismatches < 5)
                ADD_FAILURE() << printf_text(n) << " written as " << number_text(n);
        }
    }
    EXPECT_EQ(0u, mismatches);
}

TEST(JsonWriter, ASmallDocumentAfterALargeOneHoldsOnlyItsOwnText) {
    // The writer keeps its buffer between documents: nothing of the last one may show.
    Object big;
    for (unsigned i = 0; i < 20000; ++i) big << "key" + std::to_string(i) << std::string(100, 'x');
    EXPECT_GT(big.json().size(), 2000000u);
    Object small;
    small << "a" << 1u;
    EXPECT_EQ("{\n\t\"a\": 1 \n} \n", small.json());
    Array values;
    values << 0.5L;
    EXPECT_EQ("[\n\t0.5 \n] \n", values.json());
    EXPECT_EQ("true \n", Value(true).json());
}

TEST(JsonWriter, NonFiniteNumbersAreWrittenAsNullSoTheTextStaysJson) {
    EXPECT_EQ("null", number_text(std::numeric_limits<long double>::infinity()));
    EXPECT_EQ("null", number_text(std::nanl("")));
}

// Switches LC_NUMERIC to German, compiling that locale into a scratch
// directory when the machine has only its sources.
bool decimal_comma_locale() {
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) return true;
    char dir[] = "/tmp/twjson-locale-XXXXXX";
    if (!mkdtemp(dir)) return false;
    std::string cmd = std::string("localedef -i de_DE -f UTF-8 ") + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return false;
    setenv("LOCPATH", dir, 1);
    bool ok = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    unsetenv("LOCPATH");
    std::system((std::string("rm -rf ") + dir).c_str());
    return ok;
}

TEST(JsonWriter, NumbersIgnoreTheProcessLocale) {
    // A caller that switched to a locale with a decimal comma must not change documents.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    if (!decimal_comma_locale()) GTEST_SKIP() << "no locale with a decimal comma can be made on this machine";
    ASSERT_EQ(',', *std::localeconv()->decimal_point);
    EXPECT_EQ("2.5", number_text(2.5L));
    Object parsed;
    EXPECT_TRUE(parsed.parse("{\"n\": 2.5}"));
    EXPECT_EQ(2.5L, parsed.get<Number>("n"));
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(JsonWriter, ValueAndArrayTextFollowTheSameClosingRule) {
    EXPECT_EQ("\"x\" \n", Value("x").json());
    Array a;
    a << 1u;
    EXPECT_EQ("[\n\t1 \n] \n", a.json());
}

}  // namespace
