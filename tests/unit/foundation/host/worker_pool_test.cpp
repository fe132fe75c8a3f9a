#include "foundation/host/worker_pool.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

TEST(WorkerPool, AJobThatThrowsStopsNoOtherAndItsFaultReachesTheCaller) {
    std::vector<int> done(6, 0);
    try {
        tidewall::host::run_bounded(done.size(), 3, [&](size_t i) {
            if (i == 2) throw std::runtime_error("smartctl output of /dev/sdc unreadable");
            done[i] = 1;
        });
        ADD_FAILURE() << "the fault vanished";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("smartctl output of /dev/sdc unreadable", e.what());
    }
    EXPECT_EQ((std::vector<int>{1, 1, 0, 1, 1, 1}), done);
}

}  // namespace
