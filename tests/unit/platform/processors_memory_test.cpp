// Processor sockets (populated or not) with their temperatures, and memory
// figures from /proc/meminfo of several hosts.

#include "platform_test_util.h"

#include <gtest/gtest.h>

using namespace platform_test;
using tidewall::testing::test_backend;

namespace {

// The two type-4 blocks of the HP DL180 G6: Proc 1 populated, Proc 2 not.
std::string proc_blocks(bool unpopulated_first) {
    std::string both = fixture("dmidecode/t4-blocks-from-full-hp-dl180-g6.txt");
    size_t second = both.find("Handle 0x0008");
    std::string populated = both.substr(0, second);
    std::string unpopulated = both.substr(second);
    if (unpopulated.back() != '\n') unpopulated += '\n';
    return unpopulated_first ? unpopulated + populated : populated + unpopulated;
}

const char* const kTwoCpuTemps =
    "CPU1 Temp        | 01h | ok  |  3.1 | 41 degrees C\n"
    "CPU2 Temp        | 02h | ok  |  3.2 | 47 degrees C\n";

}  // namespace

TEST(CpuInfo, UnpopulatedSocketIsNotListed) {
    test_backend tb;
    tb.on("dmidecode -t processor", 0, proc_blocks(false));
    tb.on(kTempCmd, 0, kTwoCpuTemps);
    tw_platform p;
    auto cpus = p.get_cpuinfo();
    ASSERT_EQ(cpus.size(), 1u);
    const tw_processor& c = cpus.front();
    EXPECT_EQ(c.get_name(), " Proc 1");  // the split's value, untrimmed
    EXPECT_EQ(c.get_version(), " Intel(R) Xeon(R) CPU           E5504  @ 2.00GHz     ");
    EXPECT_EQ(c.get_numcores(), 4u);
    EXPECT_EQ(c.get_coresenabled(), 4u);
    EXPECT_EQ(c.get_threadcount(), 4u);
    EXPECT_EQ(c.get_temp(), 41u);
    EXPECT_TRUE(tb.logged(3, "tw_platform::get_cpuinfo", "Set CPU status: 0"));
    EXPECT_TRUE(tb.logged(2, "tw_platform::get_cpuinfo", "Processor temperature list count: 2"));
}

TEST(CpuInfo, SocketCounterAdvancesPastAnEmptySocket) {
    test_backend tb;
    tb.on("dmidecode -t processor", 0, proc_blocks(true));
    tb.on(kTempCmd, 0, kTwoCpuTemps);
    tw_platform p;
    auto cpus = p.get_cpuinfo();
    ASSERT_EQ(cpus.size(), 1u);
    EXPECT_EQ(cpus.front().get_name(), " Proc 1");
    EXPECT_EQ(cpus.front().get_temp(), 47u);  // second socket, second sensor
}

TEST(CpuInfo, FullDumpsListEveryPopulatedSocket) {
    struct row {
        const char* file;
        const char* name2;
        unsigned threads;
    };
    for (const row r :
         {row{"dmidecode/full-dell-r640.txt", " CPU2", 16}, row{"dmidecode/full-hp-dl360p-gen8.txt", " Proc 2", 12}}) {
        test_backend tb;
        tb.on("dmidecode -t processor", 0, fixture(r.file));
        tb.on(kTempCmd, 0, "CPU1 Temp | 01h | ok | 3.1 | 41 degrees C\n");  // fewer sensors than sockets
        tw_platform p;
        auto cpus = p.get_cpuinfo();
        ASSERT_EQ(cpus.size(), 2u) << r.file;
        EXPECT_EQ(cpus.back().get_name(), r.name2);
        EXPECT_EQ(cpus.back().get_threadcount(), r.threads);
        EXPECT_EQ(cpus.front().get_temp(), 41u);
        EXPECT_EQ(cpus.back().get_temp(), 0u);
    }
}

TEST(CpuInfo, NoBmcAndNoTablesGiveZeroTemperaturesAndAnEmptyList) {
    test_backend tb;
    tb.on("dmidecode -t processor", 0, proc_blocks(false));
    tb.on("dmidecode -t processor", 1, fixture("thisvm/dmidecode_processor.txt"));  // the second call
    tb.on(kTempCmd, 1, "", "Could not open device at /dev/ipmi0 or /dev/ipmi/0 or /dev/ipmidev/0");
    tw_platform p;
    auto cpus = p.get_cpuinfo();
    ASSERT_EQ(cpus.size(), 1u);
    EXPECT_EQ(cpus.front().get_temp(), 0u);
    EXPECT_TRUE(tb.logged(2, "tw_platform::get_cpuinfo", "Failed to init processor temperature list"));
    EXPECT_TRUE(tb.logged(2, "tw_platform::get_cpuinfo", "Processor temperature list count: -1"));

    EXPECT_TRUE(p.get_cpuinfo().empty());
    EXPECT_TRUE(tb.logged(2, "tw_platform::loginfo", "Processor Info:"));
}

TEST(CpuInfo, BlockWithoutStatusIsDroppedAndANewBlockReplacesAnOpenOne) {
    test_backend tb;
    tb.on("dmidecode -t processor", 0,
          "Processor Information\n\tSocket Designation: A\n\tStatus: Populated, Enabled\n"
          "Processor Information\n\tSocket Designation: B\n\tCore Count: 2\n"
          "Handle 0x0009, DMI type 4, 42 bytes\n"
          "Processor Information\n\tSocket Designation: C\n\tStatus: Populated\n\tCore Count: 12\n");
    tb.on(kTempCmd, 1);
    tw_platform p;
    auto cpus = p.get_cpuinfo();
    ASSERT_EQ(cpus.size(), 1u);
    EXPECT_EQ(cpus.front().get_name(), " C");
    EXPECT_EQ(cpus.front().get_numcores(), 12u);
    bool dropped = false;
    for (const auto& t : texts(tb, "tw_platform::get_cpuinfo"))
        dropped |= t.rfind("Previous tw_processor object was not deleted. Deleting now [", 0) == 0;
    EXPECT_TRUE(dropped);
}

TEST(MemoryInfo, RealMeminfoOfSeveralHosts) {
    struct row {
        const char* file;
        std::uint64_t total_mb, used_mb;
    };
    // Expected: MemTotal >> 10 and (MemTotal - MemAvailable) >> 10, from the files' kB figures.
    for (const row r :
         {row{"meminfo/proc-meminfo-16g-kernel5-telegraf.txt", 16201888 >> 10, (16201888 - 14221924) >> 10},
          row{"meminfo/proc-meminfo-8g-sysstat-testroot.txt", 8144960 >> 10, (8144960 - 4389516) >> 10},
          // 32-bit kernel without MemAvailable, after free's table
          row{"meminfo/free-b-plus-meminfo-percona-001.txt", 2050636 >> 10, 2050636 >> 10}}) {
        test_backend tb;
        tb.on("cat /proc/meminfo", 0, fixture(r.file));
        tw_platform p;
        tw_memory m = p.get_memoryinfo();
        EXPECT_EQ(m.get_totalmem(), r.total_mb) << r.file;
        EXPECT_EQ(m.get_usedmem(), r.used_mb) << r.file;
    }
}

TEST(MemoryInfo, FiguresRoundDownAndFailuresKeepTheRecord) {
    test_backend tb;
    // One scripted answer per call, in turn.
    tb.on("cat /proc/meminfo", 0,
          "MemTotal:       16384000 kB\nMemFree:         100 kB\nMemAvailable:    8192000 kB\n");
    tb.on("cat /proc/meminfo", 1);
    tb.on("cat /proc/meminfo", 0, "MemTotal:       4096 kB\nMemTotal broken\n");
    tb.on("cat /proc/meminfo", 0, "MemTotal: 1024 kB\nMemAvailable: 4096 kB\n");
    tw_platform p;
    tw_memory m = p.get_memoryinfo();
    EXPECT_EQ(m.get_totalmem(), 16000u);
    EXPECT_EQ(m.get_usedmem(), 8000u);
    EXPECT_TRUE(tb.logged(2, "tw_platform::loginfo", "TotalMemory: [16000MB] UsedMemory: [8000MB]"));

    m = p.get_memoryinfo();
    EXPECT_EQ(m.get_totalmem(), 16000u);
    EXPECT_TRUE(tb.logged(-1, "tw_platform::get_memoryinfo", "Failed to get memory info with error [1]."));

    m = p.get_memoryinfo();
    EXPECT_EQ(m.get_totalmem(), 16000u);
    EXPECT_TRUE(
        tb.logged(-1, "tw_platform::get_memoryinfo", "Failed to extract MemTotal value from string: MemTotal broken"));

    // A damaged table never yields a wrapped-around used figure.
    m = p.get_memoryinfo();
    EXPECT_EQ(m.get_totalmem(), 1u);
    EXPECT_EQ(m.get_usedmem(), 0u);
}
