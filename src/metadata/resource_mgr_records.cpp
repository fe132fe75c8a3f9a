// The registry record of the metadata storage (node type, group, the UUIDs of
// its physical volumes), and the earlier group and its disks found from the
// caller's arguments or that record.

#include <tidewall/tw_lvm.h>
#include <tidewall/tw_resource_mgr.h>

#include "foundation/compat/tsaf_utils.h"
#include "foundation/log/log_level.h"
#include "metadata/resource_mgr_internal.h"

using tidewall::metadata::kMetadataPvKey;
using tidewall::metadata::kMetadataVgKey;
using tidewall::metadata::kNodeTypeKey;

namespace {

// The pieces of a comma-separated list; an empty piece between two commas is
// an entry of its own, an empty text is no entry at all.
std::list<std::string> split_commas(const std::string& text) {
    std::list<std::string> pieces;
    if (text.empty()) return pieces;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        pieces.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return pieces;
}

}  // namespace

int tw_resource_mgr::write_reg_key(const char* tag, const std::string& key, const std::string& value) {
    if (tsaf_utils::set_reg_key(key, value) != 0) {
        fail(tag, "writing reg key failed for [%s]", key.c_str());
        return 1;
    }
    log_.logMessage(tag, tidewall::log_level::step, "reg key [%s] = [%s]", key.c_str(), value.c_str());
    return 0;
}

int tw_resource_mgr::find_earlier_storage(const std::string& vg_name, const std::string& pv_list, std::string& vg,
                                          std::list<std::string>& disks) {
    const char* tag = "tw_resource_mgr::unconfigure_meta_data_storage";
    vg = vg_name;
    if (vg.empty() && tsaf_utils::get_reg_key(kMetadataVgKey, vg) != 0) {
        fail(tag, "reading reg key failed for [%s]", kMetadataVgKey);
        return 1;
    }
    disks = split_commas(pv_list);
    if (disks.empty()) {
        std::string uuids;
        if (tsaf_utils::get_reg_key(kMetadataPvKey, uuids) != 0) {
            fail(tag, "reading reg key failed for [%s]", kMetadataPvKey);
            return 1;
        }
        int rc = create_disk_list(uuids, disks);
        if (rc != 0) {
            fail(tag, "create disk list failed");
            return rc;
        }
    }
    return 0;
}

int tw_resource_mgr::create_disk_list(std::string& uuid_text, std::list<std::string>& disks) {
    operation op(*this);
    const char* tag = "tw_resource_mgr::create_disk_list";
    tw_lvm lvm;
    std::list<tw_pv> scanned;
    int rc = lvm.scan_pv(scanned);
    if (rc != 0)
        return tidewall::metadata::inner_step_failed(log_, failures_, lvm.get_failures(), tag, "PV scan failed", rc);
    for (const auto& uuid : split_commas(uuid_text))
        for (const auto& pv : scanned)
            if (pv.get_uuid() == uuid) disks.push_back(pv.get_name());
    return 0;
}

int tw_resource_mgr::update_meta_data_pv_registry_entry(std::list<tw_pv>& pvs) {
    operation op(*this);
    std::string joined;
    bool first = true;
    for (const auto& pv : pvs) {
        if (!first) joined += ",";
        joined += pv.get_uuid();
        first = false;
    }
    return write_reg_key("tw_resource_mgr::update_meta_data_pv_registry_entry", kMetadataPvKey, joined);
}

int tw_resource_mgr::get_recorded_storage(std::string& node_type, std::string& vg_name, std::string& pv_uuids) {
    node_type.clear();
    vg_name.clear();
    pv_uuids.clear();
    tsaf_utils::get_reg_key(kNodeTypeKey, node_type);
    tsaf_utils::get_reg_key(kMetadataPvKey, pv_uuids);
    return tsaf_utils::get_reg_key(kMetadataVgKey, vg_name) == 0 ? 0 : 1;
}
