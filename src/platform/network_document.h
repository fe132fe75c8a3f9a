#ifndef TIDEWALL_PLATFORM_NETWORK_DOCUMENT_H
#define TIDEWALL_PLATFORM_NETWORK_DOCUMENT_H

// The network configuration document "/tmp/nwconf.json" that the product's
// network configuration script writes: which interfaces are configured, and
// their PCI addresses, MAC addresses and speeds.

#include <tidewall/tw_debug.h>

#include <string>

// Where the inventory has the script write the document.
const char* const kNwconfPath = "/tmp/nwconf.json";

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
