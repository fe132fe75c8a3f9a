#include "foundation/registry/registry_store.h"

#include "foundation/compat/ts_platform_info.h"
#include "foundation/fs/file_io.h"
#include "foundation/fs/node_lock.h"

#include "test_backend.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

using namespace tidewall;

namespace {

class RegistryStore : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/twreg.XXXXXX";
        root = ::mkdtemp(tmpl);
    }
    void TearDown() override { std::filesystem::remove_all(root); }
    std::string read(const std::string& section) {
        std::string s;
        file_io::read_all(root + "/Inst/" + section + "/registry.conf", s);
        return s;
    }
    void write(const std::string& section, const std::string& content) {
        std::filesystem::create_directories(root + "/Inst/" + section);
        ASSERT_EQ(0, file_io::write_atomic(root + "/Inst/" + section + "/registry.conf", content));
    }
    std::string root;
    tidewall::testing::test_backend host;  // the section locks are made under its root
};

TEST_F(RegistryStore, SetCreatesTheSectionFileInTheDocumentedLayout) {
    registry::store st(root, "Inst");
    ASSERT_TRUE(st.set("Dockwright", "sTidewallDDBMountPath", "/tw/ddb"));
    ASSERT_TRUE(st.set("Dockwright", "sEmpty", ""));
    ASSERT_TRUE(st.set("Dockwright", "sBlanks", "two  blanks and a tail "));
    EXPECT_EQ("sTidewallDDBMountPath /tw/ddb\nsEmpty \nsBlanks two  blanks and a tail \n", read("Dockwright"));
    std::string v;
    ASSERT_TRUE(st.get("Dockwright", "sBlanks", v));
    EXPECT_EQ("two  blanks and a tail ", v);
    ASSERT_TRUE(st.get("Dockwright", "sEmpty", v));
    EXPECT_EQ("", v);
    EXPECT_FALSE(st.get("Dockwright", "sMissing", v));
    EXPECT_FALSE(st.get("OtherSection", "sTidewallDDBMountPath", v));
}

TEST_F(RegistryStore, HandBrokenLinesAreReadAroundAndKeptOnRewrite) {
    const std::string original =
        "# node settings\n"
        "\n"
        "   indented garbage line\n"
        "sGood value one\r\n"
        "\tsTabbed tabbed\n"
        "keyonly\n"
        "sGood shadowed second copy\n"
        "\x01\x02 binary junk\n"
        "nNumber 42";  // no final newline
    write("Dockwright", original);
    registry::store st(root, "Inst");
    std::string v;
    ASSERT_TRUE(st.get("Dockwright", "sGood", v));
    EXPECT_EQ("value one", v);  // first copy counts, CR of a CRLF editor dropped
    ASSERT_TRUE(st.get("Dockwright", "nNumber", v));
    EXPECT_EQ("42", v);
    ASSERT_TRUE(st.get("Dockwright", "keyonly", v));
    EXPECT_EQ("", v);  // an editor stripped the blank after the key
    EXPECT_FALSE(st.get("Dockwright", "sTabbed", v));

    ASSERT_TRUE(st.set("Dockwright", "nNumber", "43"));
    ASSERT_TRUE(st.set("Dockwright", "sNew", "x"));
    EXPECT_EQ(
        "# node settings\n"
        "\n"
        "   indented garbage line\n"
        "sGood value one\r\n"
        "\tsTabbed tabbed\n"
        "keyonly\n"
        "sGood shadowed second copy\n"
        "\x01\x02 binary junk\n"
        "nNumber 43\n"
        "sNew x\n",
        read("Dockwright"));
}

TEST_F(RegistryStore, RejectsKeysAndValuesThatWouldNotReadBack) {
    registry::store st(root, "Inst");
    EXPECT_FALSE(st.set("Dockwright", "", "v"));
    EXPECT_FALSE(st.set("Dockwright", "two words", "v"));
    EXPECT_FALSE(st.set("Dockwright", "#comment", "v"));
    EXPECT_FALSE(st.set("Dockwright", "sKey", "line\nbreak"));
    EXPECT_FALSE(st.set("Dockwright", "sKey", "carriage\rreturn"));
    EXPECT_FALSE(st.set("../escape", "sKey", "v"));
    EXPECT_FALSE(std::filesystem::exists(root + "/Inst/Dockwright/registry.conf"));
}

TEST_F(RegistryStore, UnreadableFileIsNeverReplaced) {
    // A section file that cannot be read (here: a directory in its place) must
    // fail the update rather than be replaced by a file holding one key.
    std::filesystem::create_directories(root + "/Inst/Dockwright/registry.conf");
    registry::store st(root, "Inst");
    EXPECT_FALSE(st.set("Dockwright", "sKey", "v"));
    EXPECT_TRUE(std::filesystem::is_directory(root + "/Inst/Dockwright/registry.conf"));
}

TEST_F(RegistryStore, RewriteKeepsModeAndLeavesNoTemporaryFiles) {
    write("Dockwright", "sA 1\n");
    std::string file = root + "/Inst/Dockwright/registry.conf";
    ::chmod(file.c_str(), 0600);
    registry::store st(root, "Inst");
    ASSERT_TRUE(st.set("Dockwright", "sA", "2"));
    struct stat sb {};
    ASSERT_EQ(0, ::stat(file.c_str(), &sb));
    EXPECT_EQ(0600u, sb.st_mode & 07777);
    for (auto& e : std::filesystem::directory_iterator(root + "/Inst/Dockwright")) {
        std::string name = e.path().filename();
        EXPECT_TRUE(name == "registry.conf" || name == "registry.conf.lock") << name;
    }
}

TEST(RegistryInstance, OnlyOnePlainNameIsAnInstance) {
    struct row {
        const char* name;
        bool valid;
    } rows[] = {
        {"Instance001", true},
        {"Inst.a-b_c9", true},
        {"", false},
        {".hidden", false},
        {"..", false},
        {"a/b", false},
        {"../../../../tmp/evil", false},
        {"a b", false},
        {"x\n", false},
        {"caf\xc3\xa9", false},
    };
    for (const auto& r : rows) EXPECT_EQ(r.valid, registry::valid_instance(r.name)) << r.name;
}

TEST(RegistryInstance, ANameThatIsAPathRefusesTheRegistryAndSaysWhy) {
    tidewall::testing::test_backend tb;
    std::string instance, why;
    ::unsetenv("TW_REGISTRY_INSTANCE");
    ASSERT_TRUE(registry::machine_instance(instance, why));
    EXPECT_EQ("Instance001", instance);
    ::setenv("TW_REGISTRY_INSTANCE", "../../../../tmp/evil", 1);
    EXPECT_FALSE(registry::machine_instance(instance, why));
    EXPECT_NE(std::string::npos, why.find("TW_REGISTRY_INSTANCE [../../../../tmp/evil] refused")) << why;
    std::string value = "unchanged";
    EXPECT_FALSE(registry::machine_store().get("Dockwright", "sSubscriptionRefreshCommand", value));
    EXPECT_EQ("unchanged", value);
    EXPECT_FALSE(registry::machine_store().set("Dockwright", "sKey", "v"));
    EXPECT_TRUE(tb.logged(-1, "tidewall::registry::store::set", "Not writing [Dockwright] [sKey]: " + why));
    EXPECT_EQ("", TSPlatformInfo::getFocus());
    ::unsetenv("TW_REGISTRY_INSTANCE");
}

// A section whose lock another process holds is not written; another section
// has a lock of its own.
TEST_F(RegistryStore, AWriteThatCannotHaveItsSectionLockFailsAndSaysSo) {
    write("Dockwright", "sA 1\n");
    write("EventManager", "sB 1\n");
    registry::store st(root, "Inst");
    locks::held_lock other(locks::lock_name_for("registry", st.file_of("Dockwright")), 0);
    ASSERT_TRUE(other.held());
    EXPECT_FALSE(st.set("Dockwright", "sA", "2"));
    EXPECT_EQ("sA 1\n", read("Dockwright"));
    EXPECT_TRUE(host.logged(-1, "tidewall::registry::store::set",
                            "Not writing [Dockwright] [sA]: the lock of [" + st.file_of("Dockwright") +
                                "] is held by pid " + std::to_string(::getpid())));
    EXPECT_TRUE(st.set("EventManager", "sB", "2"));
    EXPECT_EQ("sB 2\n", read("EventManager"));
    EXPECT_FALSE(std::filesystem::exists(root + "/Inst/Dockwright/registry.conf.lock"));
}

}  // namespace
