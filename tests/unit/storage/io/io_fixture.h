#ifndef TIDEWALL_TEST_STORAGE_IO_FIXTURE_H
#define TIDEWALL_TEST_STORAGE_IO_FIXTURE_H

// A storage manager over a test backend with one data disk, /tw/disk1.

#include "../storage_fixture.h"

#include "foundation/compat/tsaf_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

class IoVerificationTest : public ::testing::Test {
protected:
    void SetUp() override { tb.make_dir("/tw/disk1"); }
    int count_logs(const std::string& prefix) const {
        return static_cast<int>(
            std::count_if(tb.logs.begin(), tb.logs.end(), [&](const auto& l) { return l.text.rfind(prefix, 0) == 0; }));
    }
    std::vector<unsigned> stream(unsigned key, unsigned count) {
        std::vector<unsigned> words(count);
        tsaf_utils::generate_prg_data(key, words.data(), count);
        return words;
    }

    tidewall::testing::test_backend tb;
    tidewall::testing::storage_under_test s{tb};
    tw_storage& st = s.storage;
};

#endif
