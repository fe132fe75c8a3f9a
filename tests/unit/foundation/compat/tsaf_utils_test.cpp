#include "foundation/compat/ts_platform_info.h"
#include "foundation/compat/tsaf_utils.h"

#include "foundation/host/shell_quote.h"
#include "foundation/mount/ts_mnt_parser.h"
#include "test_backend.h"

#include <gtest/gtest.h>

#include <vector>

using tidewall::testing::test_backend;

namespace {

TEST(TsafStrings, NameValueSplitAtFirstSeparatorWithoutTrimming) {
    std::string n, v;
    ASSERT_EQ(0, tsaf_utils::get_name_value_pair("Manufacturer: Dell Inc.: x", n, v));
    EXPECT_EQ("Manufacturer", n);
    EXPECT_EQ(" Dell Inc.: x", v);
    ASSERT_EQ(0, tsaf_utils::get_name_value_pair("a=b=c", '=', n, v));
    EXPECT_EQ("a", n);
    EXPECT_EQ("b=c", v);
    EXPECT_NE(0, tsaf_utils::get_name_value_pair("no separator", '=', n, v));
}

TEST(TsafStrings, TokenizeDropsEmptyTokensAndKeepsOrder) {
    std::vector<std::string> t;
    tsaf_utils::tokenize("  Tessaline  Arrowfield 2.1 build\t7 ", " \t", t);
    EXPECT_EQ((std::vector<std::string>{"Tessaline", "Arrowfield", "2.1", "build", "7"}), t);
    t.clear();
    tsaf_utils::tokenize("", " ", t);
    EXPECT_TRUE(t.empty());
}

TEST(TsafStrings, TrimFamily) {
    EXPECT_EQ("a b", tsaf_utils::trim(" \t a b\n\r "));
    EXPECT_EQ("", tsaf_utils::trim(" \n"));
    EXPECT_EQ("95", tsaf_utils::trim_right("95%%", "%"));
    EXPECT_EQ("x%", tsaf_utils::trim_left("%%x%", "%"));
}

TEST(TsafConversions, NumbersAndTexts) {
    EXPECT_EQ(42u, tsaf_utils::string_to_uint(" 42abc"));
    EXPECT_EQ(0u, tsaf_utils::string_to_uint("abc"));
    EXPECT_EQ(0u, tsaf_utils::string_to_uint("-5"));
    EXPECT_EQ(0xffffffffu, tsaf_utils::string_to_uint("99999999999"));
    EXPECT_EQ(18446744073709551615ul, tsaf_utils::string_to_ulong("99999999999999999999999"));
    EXPECT_DOUBLE_EQ(2.5, tsaf_utils::string_to_double("2.5 GHz"));
    EXPECT_EQ("000a", tsaf_utils::uint_to_hexstr(10, 4));
    EXPECT_EQ("true", tsaf_utils::booltostr(true));
    EXPECT_EQ("noatime,inode64,nofail", tsaf_utils::create_file_sys_args({"noatime", "inode64", "nofail"}));
    EXPECT_EQ("", tsaf_utils::create_file_sys_args({}));
    EXPECT_EQ(1, tsaf_utils::is_present({"a", "nofail"}, "nofail"));
    EXPECT_EQ(0, tsaf_utils::is_present({"a", "nofail"}, "nofai"));
}

TEST(TsafRegistry, NumericKeysThatDoNotParseCountAsAbsent) {
    test_backend tb;
    unsigned v = 7;
    tb.set_key("nGood", "12");
    tb.set_key("nHex", "0x10");
    tb.set_key("nBad", "12abc");
    tb.set_key("nNegative", "-1");
    tb.set_key("nHuge", "99999999999");
    tb.set_key("nLeadingZero", "08");
    tb.set_key("nOctalLooking", "010");
    EXPECT_EQ(0, tsaf_utils::get_reg_key("nGood", v));
    EXPECT_EQ(12u, v);
    // Numbers are decimal: a leading zero is no octal prefix, "0x" no hex one.
    EXPECT_EQ(0, tsaf_utils::get_reg_key("nLeadingZero", v));
    EXPECT_EQ(8u, v);
    EXPECT_EQ(0, tsaf_utils::get_reg_key("nOctalLooking", v));
    EXPECT_EQ(10u, v);
    for (const char* k : {"nHex", "nBad", "nNegative", "nHuge", "nMissing"}) {
        v = 7;
        EXPECT_NE(0, tsaf_utils::get_reg_key(k, v)) << k;
        EXPECT_EQ(7u, v) << k;
    }
    EXPECT_EQ(0, tsaf_utils::set_reg_key("sX", "y"));
    EXPECT_EQ("y", tb.key("sX").value());
    tb.registry_read_only = true;
    EXPECT_NE(0, tsaf_utils::set_reg_key("sX", "z"));
}

TEST(TsafRegistry, LongNumbersOfAnySectionAreDecimalToo) {
    test_backend tb;
    struct number_case {
        const char* text;
        int found;
        unsigned long long value;
    };
    for (const number_case& c : std::vector<number_case>{
             {"7", 1, 7}, {"08", 1, 8}, {"010", 1, 10}, {"0x2", 0, 99}, {"2x", 0, 99}, {"-3", 0, 99}, {"", 0, 99}}) {
        tb.registry["PerfParams"]["nVersion"] = c.text;
        unsigned long long v = 99;
        EXPECT_EQ(c.found, TSPlatformInfo::getLongLong("PerfParams", "nVersion", &v)) << c.text;
        EXPECT_EQ(c.value, v) << c.text;
    }
}

TEST(TsafCommands, ALimitOfZeroIsTheDefaultLimitNeverNone) {
    test_backend tb;
    tb.on("true", 0, "a\nb\n");
    std::list<std::string> lines;
    std::string err;
    EXPECT_EQ(0, tsaf_utils::popen("true", lines, 0));
    EXPECT_EQ(0, tsaf_utils::execute_command("true", lines, err, 0));
    EXPECT_EQ(0, tsaf_utils::popen("true", lines, 7));
    EXPECT_EQ((std::list<std::string>{"a", "b", "a", "b", "a", "b"}), lines);
    EXPECT_EQ((std::vector<int>{100, 100, 7}), tb.time_limits);
}

TEST(TsafMounts, IsMountedAndBackingDeviceFromTheMountTable) {
    test_backend tb;
    tb.write_file("/etc/mtab",
                  "/dev/vda / ext4 rw,relatime 0 0\n"
                  "/dev/loop0 /tw/disk1 xfs rw,noatime,inode64 0 0\n"
                  "/dev/loop1 /tw/disk\\0401 xfs rw 0 0\n"
                  "tmpfs /tw/disk1 tmpfs rw 0 0\n");
    std::string dev, type, mp;
    std::list<std::string> opts;
    EXPECT_EQ(1, tsaf_utils::is_mounted("/tw/disk1/", dev, type, opts));
    EXPECT_EQ("tmpfs", dev);  // the mount on top is the one in force
    EXPECT_EQ(1, tsaf_utils::is_mounted("/tw/disk 1", dev, type, opts));
    EXPECT_EQ("/dev/loop1", dev);
    EXPECT_EQ(0, tsaf_utils::is_mounted("/tw/disk2", dev, type, opts));
    ASSERT_EQ(0, tsaf_utils::get_dir_bdev("/tw/disk10/brick", dev, mp));
    EXPECT_EQ("/dev/vda", dev);  // /tw/disk1 is no prefix of /tw/disk10
    ASSERT_EQ(0, tsaf_utils::get_dir_bdev("/tw/disk 1/tw_brick", dev, mp));
    EXPECT_EQ("/dev/loop1", dev);
    EXPECT_EQ("/tw/disk 1", mp);
}

TEST(TsafMounts, UnreadableMountTableIsAFailureNotUnmounted) {
    test_backend tb;
    std::string dev, type;
    std::list<std::string> opts;
    EXPECT_EQ(-1, tsaf_utils::is_mounted("/tw/disk1", dev, type, opts));
}

TEST(MountTableParser, ReadsARealFstabWithCommentsAndUuids) {
    std::list<TsMntInfo> e;
    TsMntParser::ParseText(
        "# /etc/fstab: static file system information.\n"
        "UUID=0a3407de-014b-458b-b5c1-848e92a327a3 /     ext4   noatime,errors=remount-ro 0       1\n"
        "  \n"
        "/dev/sdb\t/tw/disk1\txfs\tnoatime,,inode64,nofail\t0 0\n"
        "/swapfile none swap sw\n"
        "broken-line-with-one-field\n",
        e);
    ASSERT_EQ(3u, e.size());
    auto it = e.begin();
    EXPECT_EQ("UUID=0a3407de-014b-458b-b5c1-848e92a327a3", it->GetBackingDevice());
    EXPECT_EQ(1, it->GetPassNumber());
    ++it;
    EXPECT_EQ("/tw/disk1", it->GetMountPoint());
    EXPECT_EQ((std::list<std::string>{"noatime", "inode64", "nofail"}), it->MountOptions());
    ++it;
    EXPECT_EQ("swap", it->GetFileSystemType());
    EXPECT_EQ(0, it->GetDumpFrequency());
}

TEST(PseudoRandomData, SameWordsForTheSameKeyOnEveryMachine) {
    // These words are part of the file format of the I/O tests: a file written
    // by one build must validate on another.
    std::vector<unsigned> w(6);
    tsaf_utils::generate_prg_data(0xdeadbeef, w.data(), 6);
    std::vector<unsigned> again(6);
    tsaf_utils::generate_prg_data(0xdeadbeef, again.data(), 6);
    EXPECT_EQ(w, again);
    std::vector<unsigned> other(6);
    tsaf_utils::generate_prg_data(0xdeadbeee, other.data(), 6);
    EXPECT_NE(w, other);
    EXPECT_EQ((std::vector<unsigned>{0xa4cf29f4u, 0x2d7b775bu, 0x7f5ff40bu, 0x96576f9au, 0x7101c2d7u, 0x48eac250u}), w);

    // Deep in a long stream, where the words come from the vector path on
    // processors that have one (computed independently of the library).
    std::vector<unsigned> bulk(262150);
    tsaf_utils::generate_prg_data(0xdeadbeef, bulk.data(), static_cast<unsigned>(bulk.size()));
    EXPECT_EQ((std::vector<unsigned>{0xd46d7a8fu, 0xf680a8fbu, 0xbb94438eu, 0xcbe31dd8u, 0x73bc5fbcu, 0xcf747b1cu}),
              std::vector<unsigned>(bulk.begin() + 1000, bulk.begin() + 1006));
    EXPECT_EQ((std::vector<unsigned>{0x8f14f009u, 0x75c04633u, 0x3145aa41u, 0x6959b612u, 0xe239f30bu, 0x99501dceu}),
              std::vector<unsigned>(bulk.begin() + 262143, bulk.begin() + 262149));
    EXPECT_TRUE(tsaf_utils::prg_data_matches_at(0xdeadbeef, 0, bulk.data(), static_cast<unsigned>(bulk.size())));
}

TEST(PseudoRandomData, ChunksReproduceTheWholeStream) {
    std::vector<unsigned> whole(1001);
    tsaf_utils::generate_prg_data(77, whole.data(), 1001);
    for (unsigned first : {0u, 1u, 2u, 333u, 1000u}) {
        std::vector<unsigned> part(1001 - first);
        tsaf_utils::generate_prg_data_at(77, first, part.data(), static_cast<unsigned>(part.size()));
        EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin() + first)) << first;
    }
}

TEST(PseudoRandomData, MatchingTellsTheExactStretchFromAnyOtherWords) {
    std::vector<unsigned> whole(1001);
    tsaf_utils::generate_prg_data(77, whole.data(), 1001);
    // Odd and even starts and lengths: the paired words split either way.
    for (unsigned first : {0u, 1u, 2u, 333u, 1000u}) {
        for (unsigned count : {0u, 1u, 2u, 7u, 1001u - first}) {
            if (first + count > whole.size()) continue;
            std::vector<unsigned> part(whole.begin() + first, whole.begin() + first + count);
            EXPECT_TRUE(tsaf_utils::prg_data_matches_at(77, first, part.data(), count)) << first << "+" << count;
            if (count == 0) continue;
            EXPECT_FALSE(tsaf_utils::prg_data_matches_at(78, first, part.data(), count)) << first;
            EXPECT_FALSE(tsaf_utils::prg_data_matches_at(77, first + 1, part.data(), count)) << first;
            part[count - 1] ^= 0x80000000u;  // one bit of the last word
            EXPECT_FALSE(tsaf_utils::prg_data_matches_at(77, first, part.data(), count)) << first;
        }
    }
}

TEST(PseudoRandomData, FreshKeyComesFromTheHostAndIsShownInHex) {
    test_backend tb;
    tb.random_values = {0xabc};
    std::string text;
    EXPECT_EQ(0xabcu, tsaf_utils::generate_prg_key(text));
    EXPECT_EQ("00000abc", text);
}

TEST(ShellQuote, OrdinaryValuesStayAsTheyAreOthersAreQuoted) {
    EXPECT_EQ("/dev/sdb", tidewall::shell_quote("/dev/sdb"));
    EXPECT_EQ("UUID=0a34-11:x,y@z%+", tidewall::shell_quote("UUID=0a34-11:x,y@z%+"));
    EXPECT_EQ("'/tw/disk 1'", tidewall::shell_quote("/tw/disk 1"));
    EXPECT_EQ("'a;rm -rf /'", tidewall::shell_quote("a;rm -rf /"));
    EXPECT_EQ("'it'\\''s'", tidewall::shell_quote("it's"));
    EXPECT_EQ("''", tidewall::shell_quote(""));
    EXPECT_EQ("'$(x)'", tidewall::shell_quote("$(x)"));
    EXPECT_EQ(std::string("'a\0b'", 5), tidewall::shell_quote(std::string("a\0b", 3)));
}

}  // namespace
