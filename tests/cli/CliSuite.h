#pragma once
// The suite of the command-line tests that share one small generated stack, and
// list files naming its photographs.

#include "SampleStack.h"
#include "StackSuite.h"
#include "TestSupport.h"

#include <map>
#include <string>

/// One small generated stack shared by the tests of the suite.
class Cli : public TStackSuite<Cli> {
public:
    static constexpr const char* kStackName = "dots";
    static TSampleOptions StackOptions() { return SmallStackOptions(20, 7); }

protected:
    /// A list file in dir naming the photographs of the shared stack, those of changed
    /// replaced, count of them.
    std::string ListWith(const TTempDir& dir, const std::map<int, std::string>& changed,
                         int count = 17) const {
        const std::string list = dir / ("list" + std::to_string(++lists_) + ".txt");
        WriteFileText(list, ListText(changed, count));
        return list;
    }

    mutable int lists_ = 0;
};
