#ifndef TIDEWALL_PLATFORM_NETWORK_DOCUMENT_H
#define TIDEWALL_PLATFORM_NETWORK_DOCUMENT_H

// The network configuration document that the product's network configuration
// script writes at the path it is given: which interfaces are configured, and
// their PCI addresses, MAC addresses and speeds.

#include <tidewall/tw_debug.h>

#include <string>

// Where the inventory has the script write the document: the root-only state
// directory, not /tmp, where another account could plant a document of its own
// (or a link, or a FIFO) at the fixed name.
const char* const kNwconfPath = "/var/lib/tidewall/nwconf.json";

// A document is read only when it is a regular file owned by the effective user
// (root on a node) that nobody else can write, and is at most this large.
constexpr long long kNwconfMaxBytes = 16LL << 20;

// One port of an adapter, as the document's "ethernet_adaptors" list gives it.
struct eth_adp_s {
    std::string pci_bus_info;
    std::string hwaddr;
    std::string speed;
};

// Runs the network configuration script (dHOME/tsnwconfigmgr.py) to write the
// document at path. Always 0: when it fails, an older document is read.
int nwconf_file_generate(std::string path, tw_debug& log);

#endif
