// Host services for names, systemd units and peer nodes: which names are this
// node's, and the exact systemctl and ssh command lines.

#include "foundation/compat/tsaf_utils.h"

#include "test_backend.h"

#include <gtest/gtest.h>

using tidewall::testing::test_backend;

namespace {

TEST(LoopBackName, LoopBackNamesAndThisHostsOwnNames) {
    test_backend tb;
    tb.hostname = "node1.example.net";
    for (const char* name :
         {"localhost", "LOCALHOST", "127.0.0.1", "127.0.1.1", "::1", "node1.example.net", "Node1.Example.Net", "node1"})
        EXPECT_EQ(1, tsaf_utils::is_loop_back_hname(name)) << name;
    for (const char* name : {"", "node", "node1.example", "node2", "node1.other.net", "10.1.0.1"})
        EXPECT_EQ(0, tsaf_utils::is_loop_back_hname(name)) << name;
}

TEST(LoopBackName, NamesAndAddressesLeadingToThisHostsInterfaces) {
    test_backend tb;
    tb.hostname = "node1.example.net";
    tb.interface_addresses = {"127.0.0.1", "10.1.0.1", "fd00::1"};
    tb.hosts = {{"node1sds.example.net", "10.1.0.1"},
                {"node2sds.example.net", "10.1.0.2"},
                {"pinned", "127.0.1.1"},
                {"v6name", "fd00::1"}};
    EXPECT_EQ(1, tsaf_utils::is_loop_back_hname("node1sds.example.net"));
    EXPECT_EQ(1, tsaf_utils::is_loop_back_hname("10.1.0.1"));
    EXPECT_EQ(1, tsaf_utils::is_loop_back_hname("fd00::1"));
    EXPECT_EQ(1, tsaf_utils::is_loop_back_hname("v6name"));
    EXPECT_EQ(1, tsaf_utils::is_loop_back_hname("pinned"));
    EXPECT_EQ(0, tsaf_utils::is_loop_back_hname("node2sds.example.net"));
    EXPECT_EQ(0, tsaf_utils::is_loop_back_hname("10.1.0.2"));
    EXPECT_EQ(0, tsaf_utils::is_loop_back_hname("unresolvable"));

    // The interfaces decide even when the host name cannot be read; without
    // them only the names and loop-back addresses are known.
    tb.hostname_error = EINVAL;
    EXPECT_EQ(1, tsaf_utils::is_loop_back_hname("node1sds.example.net"));
    EXPECT_EQ(0, tsaf_utils::is_loop_back_hname("node1"));
    tb.hostname_error = 0;
    tb.interface_addresses.clear();
    EXPECT_EQ(0, tsaf_utils::is_loop_back_hname("node1sds.example.net"));
    EXPECT_EQ(1, tsaf_utils::is_loop_back_hname("node1"));
    EXPECT_EQ(1, tsaf_utils::is_loop_back_hname("pinned"));
}

TEST(SystemdUnits, DisableAndReloadCommands) {
    test_backend tb;
    tb.on("systemctl disable --now tendrl-node-agent.service", 0);
    tb.on("systemctl disable tendrl-node-agent.service", 1, "", "Failed to disable unit\n");
    tb.on("systemctl daemon-reload", 0);
    EXPECT_EQ(0, tsaf_utils::disableservice("tendrl-node-agent.service", true));
    EXPECT_EQ(-1, tsaf_utils::disableservice("tendrl-node-agent.service", false));
    EXPECT_EQ(-1, tsaf_utils::disableservice("", true));
    EXPECT_EQ(0, tsaf_utils::systemctl_reload_cmd());
    EXPECT_EQ((std::vector<std::string>{"systemctl disable --now tendrl-node-agent.service",
                                        "systemctl disable tendrl-node-agent.service", "systemctl daemon-reload"}),
              tb.commands);
    test_backend failing;
    failing.on("systemctl daemon-reload", 1, "", "Failed to reload daemon: Access denied\n");
    EXPECT_EQ(-1, tsaf_utils::systemctl_reload_cmd());
}

TEST(RemoteFiles, ListingAndRemovalOverSshWithTheRemoteShellQuotedToo) {
    test_backend tb;
    const std::string ssh = "ssh -o BatchMode=yes -o ConnectTimeout=10 -o StrictHostKeyChecking=accept-new ";
    tb.on(ssh + "root@engine.example.net 'ls -A -- /var/log/ovirt-engine/dump'", 0, "dump1.hprof\ndump 2.hprof\n");
    std::list<std::string> names = {"kept"};
    EXPECT_EQ(0, tsaf_utils::get_remote_dir_contents("engine.example.net", "/var/log/ovirt-engine/dump", names));
    EXPECT_EQ((std::list<std::string>{"kept", "dump1.hprof", "dump 2.hprof"}), names);

    tb.on(ssh + "root@engine.example.net 'rm -f -- '\\''/var/log/ovirt-engine/dump/dump 2.hprof'\\'''", 0);
    EXPECT_EQ(0, tsaf_utils::delete_remote_file("engine.example.net", "/var/log/ovirt-engine/dump/dump 2.hprof"));
    tb.on(ssh + "root@engine.example.net 'rm -f -- /x'", 255, "", "ssh: connect to host engine.example.net: refused\n");
    EXPECT_EQ(255, tsaf_utils::delete_remote_file("engine.example.net", "/x"));

    // Hosts ssh would take for options, or that hold blanks, never reach a command.
    tb.commands.clear();
    EXPECT_NE(0, tsaf_utils::get_remote_dir_contents("-oProxyCommand=sh", "/tmp", names));
    EXPECT_NE(0, tsaf_utils::delete_remote_file("a b", "/x"));
    EXPECT_NE(0, tsaf_utils::delete_remote_file("", "/x"));
    EXPECT_NE(0, tsaf_utils::delete_remote_file("engine", ""));
    EXPECT_TRUE(tb.commands.empty());
}

}  // namespace
