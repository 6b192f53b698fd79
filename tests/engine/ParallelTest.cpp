#include "base/Parallel.h"

#include "base/Grid.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

TEST(ForEachIndex, RunsEveryTaskOnceAndRaisesTheLowestFailure) {
    for (int threads : {1, 2, 4, 40}) {
        std::vector<std::atomic<int>> runs(37);
        ForEachIndex(37, threads, [&](std::int32_t i) { ++runs[std::size_t(i)]; });
        for (const auto& n : runs)
            EXPECT_EQ(n.load(), 1) << threads << " threads";

        // Tasks 5 and 9 fail; 9 may begin before 5 fails, but 5's error is the one
        // raised, and no task begins after the failures beyond both.
        std::mutex lock;
        std::vector<int> begun;
        try {
            ForEachIndex(2000, threads, [&](std::int32_t i) {
                {
                    std::lock_guard guard(lock);
                    begun.push_back(i);
                }
                if (i == 5 || i == 9)
                    throw std::runtime_error("task " + std::to_string(i));
                std::this_thread::sleep_for(std::chrono::milliseconds(i > 9 ? 1 : 0));
            });
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "task 5") << threads << " threads";
        }
        EXPECT_LT(begun.size(), 2000u) << threads << " threads";
    }
    ForEachIndex(0, 4, [](std::int32_t) { FAIL(); });
}

TEST(ForEachBand, CoversTheRangeInConsecutiveBands) {
    std::vector<std::atomic<int>> hits(101);
    ForEachBand(101, 7, 3, [&](int, std::int32_t begin, std::int32_t end) {
        for (std::int32_t i = begin; i < end; ++i)
            ++hits[std::size_t(i)];
    });
    for (const auto& n : hits)
        EXPECT_EQ(n.load(), 1);
}

TEST(TBackgroundTask, WaitRaisesTheTasksErrorAndDroppingAsksItToStop) {
    TBackgroundTask failing([](std::stop_token) { throw std::runtime_error("disk full"); });
    EXPECT_THROW(
        {
            try {
                failing.Wait();
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "disk full");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_NO_THROW(failing.Wait());

    std::atomic<bool> stopped{false};
    {
        TBackgroundTask endless([&](std::stop_token stop) {
            while (!stop.stop_requested())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            stopped = true;
        });
    }
    EXPECT_TRUE(stopped);
}

TEST(TGrid, RefusesANegativeSizeAndKeepsItsValues) {
    TGrid<std::uint8_t> grid;
    grid.Resize(2, 3);
    grid[1][2] = 7;
    EXPECT_THROW(grid.Resize(-1, 3), std::invalid_argument);
    EXPECT_THROW(grid.ResizeForOverwrite(2, -3), std::invalid_argument);
    ASSERT_EQ(grid.size(), 6u);
    EXPECT_EQ(grid[1][2], 7);
}
