#pragma once
// A folder of small photographs, each of its own content, and the list files that
// name them: the inputs of the tests of a list's load.

#include "TestSupport.h"

#include <string>
#include <vector>

/// A folder with photographs p0.jpg … p{count−1}.jpg of kWidth × kHeight pixels,
/// each of its own content.
struct TPhotoFolder {
    static constexpr int kWidth = 24, kHeight = 16;

    TTempDir dir;
    explicit TPhotoFolder(int count) {
        for (int i = 0; i < count; ++i)
            WritePatternJpeg(Photo(i), kWidth, kHeight, 3, unsigned(i + 1));
    }
    /// The name of photograph i.
    std::string Photo(int i) const { return dir / ("p" + std::to_string(i) + ".jpg"); }
    /// Writes a list file of names under the two header lines, each line ended by
    /// lineEnd; gives its name.
    std::string List(const std::vector<std::string>& names, const std::string& lineEnd = "\r\n",
                     const std::string& file = "list.txt") const {
        std::string text = "first line\r\nsecond line" + lineEnd;
        for (const std::string& name : names)
            text += name + lineEnd;
        WriteFileText(dir / file, text);
        return dir / file;
    }
    /// The names of the first count photographs.
    std::vector<std::string> Photos(int count) const {
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i)
            names.push_back(Photo(i));
        return names;
    }
};
