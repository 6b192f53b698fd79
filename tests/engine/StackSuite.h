#pragma once
// A test suite whose tests share one generated sample stack: rendering it is the
// slow part, so it is made once for the suite and removed after it.

#include "SampleStack.h"
#include "TestSupport.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>

/// The generator's options for a stack of width x height pixels, with dots spacing
/// apart; the rest as they come.
inline TSampleOptions SampleOptionsOf(std::int32_t width, std::int32_t height,
                                      double spacing = TSampleOptions{}.Spacing) {
    TSampleOptions options;
    options.Width = width;
    options.Height = height;
    options.Spacing = spacing;
    return options;
}

/// The options of a small stack, 320 x 240 pixels, with dots spacing apart.
inline TSampleOptions SmallStackOptions(double spacing, std::uint32_t seed) {
    TSampleOptions options = SampleOptionsOf(320, 240, spacing);
    options.Seed = seed;
    return options;
}

/// Suite is the test class itself; it provides static StackOptions() and
/// kStackName, the base name of the stack's files.
template <class Suite> class TStackSuite : public testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<TTempDir>();
        stack_ = std::make_unique<TSampleStack>(
            WriteSampleStack(folder_->path(), Suite::kStackName, Suite::StackOptions()));
    }
    static void TearDownTestSuite() {
        stack_.reset();
        folder_.reset();
    }

    /// The text of a list file naming count of the stack's photographs, those of
    /// changed replaced.
    static std::string ListText(const std::map<int, std::string>& changed, int count = 17) {
        std::string text = "title\r\nsecond\r\n";
        for (int i = 0; i < count; ++i) {
            auto it = changed.find(i);
            text +=
                (it != changed.end() ? it->second : stack_->Photographs[std::size_t(i)]) + "\r\n";
        }
        return text;
    }

    static inline std::unique_ptr<TTempDir> folder_;
    static inline std::unique_ptr<TSampleStack> stack_;
};
