#pragma once
// A test suite whose tests share one generated sample stack: rendering it is the
// slow part, so it is made once for the suite and removed after it.

#include "SampleStack.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <memory>

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

    static inline std::unique_ptr<TTempDir> folder_;
    static inline std::unique_ptr<TSampleStack> stack_;
};
