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
    static TSampleOptions StackOptions() {
        TSampleOptions options;
        options.Width = 320;
        options.Height = 240;
        options.Spacing = 20;
        options.Seed = 7;
        return options;
    }

protected:
    /// A list file in dir naming the photographs of the shared stack, those of changed
    /// replaced, count of them.
    std::string ListWith(const TTempDir& dir, const std::map<int, std::string>& changed,
                         int count = 17) const {
        const std::string list = dir / ("list" + std::to_string(++lists_) + ".txt");
        std::string text = "title\r\nsecond\r\n";
        for (int i = 0; i < count; ++i) {
            auto it = changed.find(i);
            text +=
                (it != changed.end() ? it->second : stack_->Photographs[std::size_t(i)]) + "\r\n";
        }
        WriteFileText(list, text);
        return list;
    }

    mutable int lists_ = 0;
};
