// Node names: the storage host name, /etc/hosts, which of a list of names is
// this node, and address checks.

#include "storage_fixture.h"

#include <gtest/gtest.h>

using tidewall::testing::storage_under_test;
using tidewall::testing::test_backend;

namespace {

TEST(StorageHostName, SdsGoesAfterTheFirstLabel) {
    struct row {
        const char* host;
        const char* storage;
    };
    for (auto r : {row{"node7.example.net", "node7sds.example.net"}, row{"vm", "vmsds"}, row{"a.b.c.d", "asds.b.c.d"},
                   row{"node1.", "node1sds."}}) {
        test_backend tb;
        tb.hostname = r.host;
        tb.hosts[r.storage] = "10.1.0.7";
        storage_under_test s(tb);
        std::string hname, address;
        EXPECT_EQ(0, s.storage.get_tw_hname(hname, address)) << r.host;
        EXPECT_EQ(r.storage, hname);
        EXPECT_EQ("10.1.0.7", address);
    }
}

TEST(StorageHostName, UnresolvedNameIsStillGivenAndAFailedHostNameIsReported) {
    test_backend tb;
    tb.hostname = "node7.example.net";
    storage_under_test s(tb);
    std::string hname, address = "kept";
    EXPECT_NE(0, s.storage.get_tw_hname(hname, address));
    EXPECT_EQ("node7sds.example.net", hname);
    EXPECT_EQ("kept", address);

    tb.hostname_error = ENAMETOOLONG;
    hname = "kept";
    EXPECT_EQ(-1, s.storage.get_tw_hname(hname, address));
    EXPECT_EQ("kept", hname);
    EXPECT_TRUE(tb.logged(-1, "tw_storage::get_tw_hname", "Failed to get hostname error: File name too long"));
}

TEST(UpdateHosts, AppendsOnlyNamesThatDoNotResolveInNameOrder) {
    test_backend tb;
    tb.write_file("/etc/hosts", "127.0.0.1 localhost\n10.1.0.2 node2sds");  // no newline at the end
    tb.hosts["node2sds"] = "10.1.0.2";
    storage_under_test s(tb);
    std::map<std::string, std::string> names = {{"node4sds", "10.1.0.4"},
                                                {"node2sds", "10.1.0.2"},
                                                {"node3sds", "10.1.0.3"},
                                                {"bad name", "10.1.0.9"},
                                                {"node5sds", "10.1.0.5\n10.1.0.6 evil"}};
    EXPECT_EQ(0, s.storage.update_hosts(names));
    EXPECT_EQ(
        "127.0.0.1 localhost\n10.1.0.2 node2sds\n"
        "10.1.0.3 node3sds\n"
        "10.1.0.4 node4sds\n",
        tb.read_file("/etc/hosts"));
    EXPECT_TRUE(tb.commands.empty());
}

TEST(UpdateHosts, MissingFileIsCreated) {
    test_backend tb;
    storage_under_test s(tb);
    std::map<std::string, std::string> names = {{"node3sds", "10.1.0.3"}};
    EXPECT_EQ(0, s.storage.update_hosts(names));
    EXPECT_EQ("10.1.0.3 node3sds\n", tb.read_file("/etc/hosts"));
}

TEST(UpdateHosts, UnwritableFileIsNoFailure) {
    test_backend tb;  // no /etc at all
    tw_storage st;
    std::map<std::string, std::string> names = {{"node3sds", "10.1.0.3"}};
    EXPECT_EQ(0, st.update_hosts(names));
    EXPECT_FALSE(tb.exists("/etc/hosts"));
    EXPECT_TRUE(tb.logged(-1, "tw_storage::update_hosts",
                          "Failed to add [node3sds] to /etc/hosts error [No such file or directory]"));
}

TEST(LoopBackHostName, StorageNameWhenANameHasItsAddress) {
    test_backend tb;
    tb.hostname = "node1.example.net";
    tb.hosts["node1sds.example.net"] = "10.1.0.1";
    tb.hosts["peer2"] = "10.1.0.2";
    tb.hosts["me"] = "10.1.0.1";
    storage_under_test s(tb);
    std::list<std::string> names = {"peer2", "me"};
    std::string hname;
    EXPECT_EQ(0, s.storage.get_loop_back_hname(names, hname));
    EXPECT_EQ("node1sds.example.net", hname);
    EXPECT_TRUE(tb.logged(0, "tw_storage::get_loop_back_hname",
                          "Tidewall Hostname [node1sds.example.net] IP address [10.1.0.1]"));
    EXPECT_TRUE(tb.logged(0, "tw_storage::get_loop_back_hname", "Hostname [peer2] IP address [10.1.0.2]"));

    // A name that does not resolve ends the search, even before a match.
    names = {"unknown", "me"};
    hname = "kept";
    EXPECT_EQ(1, s.storage.get_loop_back_hname(names, hname));
    EXPECT_EQ("kept", hname);

    names = {"peer2"};
    try {
        s.storage.get_loop_back_hname(names, hname);
        FAIL() << "no exception";
    } catch (const TsException& e) {
        EXPECT_NE(std::string::npos, e.formatError().find("Failed to find storagepool network hostname"));
    }
}

TEST(LoopBackHostName, ThrowsWhenTheStorageNameDoesNotResolve) {
    test_backend tb;
    tb.hosts["peer2"] = "10.1.0.2";
    storage_under_test s(tb);
    std::list<std::string> names = {"peer2"};
    std::string hname;
    try {
        s.storage.get_loop_back_hname(names, hname);
        FAIL() << "no exception";
    } catch (const TsException& e) {
        EXPECT_NE(std::string::npos, e.formatError().find("Failed to extract storagepool network hostname "));
        EXPECT_EQ(-1, e.code());
    }
}

TEST(Addresses, DottedIpv4OnlyAndNamesOfRemoteAddresses) {
    test_backend tb;
    storage_under_test s(tb);
    for (std::string ip : {"10.0.0.1", "255.255.255.255", "0.0.0.0"}) EXPECT_EQ(1, s.storage.is_valid_ip(ip)) << ip;
    for (std::string ip : {"999.1.1.1", "10.0.0", "10.0.0.1 ", "::1", "", "node1"})
        EXPECT_EQ(0, s.storage.is_valid_ip(ip)) << ip;

    tb.hosts["node2sds"] = "10.1.0.2";
    std::string ip = "10.1.0.2", hname;
    EXPECT_EQ(0, s.storage.get_remote_ip_to_hname(ip, hname));
    EXPECT_EQ("node2sds", hname);
    ip = "10.1.0.99";
    EXPECT_EQ(1, s.storage.get_remote_ip_to_hname(ip, hname));
    EXPECT_EQ("", hname);
}

}  // namespace
