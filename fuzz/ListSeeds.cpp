// The seeds of fuzz_list: list files naming the photographs and junk files that
// FillListFolder puts beside them, with the options byte FuzzList.cpp reads first.

#include "FuzzSupport.h"
#include "Seeds.h"

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace NSeeds {

void ListSeeds(const fs::path& folder) {
    using namespace NListFolder;
    std::string all = "every file\r\nof the folder\r\n";
    for (const std::string& name : ListFolderNames())
        all += name + "\r\n";
    Write(folder / "all.txt", all);
    Write(folder / "three.txt", std::string("photographs\nin a list\n") + kColour + "\n" + kGrey +
                                    "\n" + kProgressive + "\n");
    Write(folder / "names-only.txt",
          std::string("N names only\n\n/somewhere/else/") + kGrey + "\n./" + kColour444 + "\n");
    std::string stack = "a stack of 17\n\n";
    for (int k = 0; k < 17; ++k)
        stack += (k % 3 == 0 ? kColour : k % 3 == 1 ? kProgressive : kColour) + std::string("\n");
    Write(folder / "stack.txt", stack);
    Write(folder / "missing.txt", std::string("x\ny\nmissing.jpg\n") + kGrey + "\n");
    Write(folder / "damaged.txt", std::string("x\ny\n") + kColour + "\n" + kDamaged + "\n" + kGrey);
    // The first byte picks the options (see FuzzList.cpp): 'd' keeps every plane at
    // full depth, 'l' also sets Bits 12, 'P' keeps the values of the even planes only.
    std::string mixed = "mixed formats\n\n";
    for (int k = 0; k < 17; ++k)
        mixed += (k % 3 == 0 ? kColour : k % 3 == 1 ? kDeepPng : kTiff) + std::string("\n");
    Write(folder / "mixed.txt", mixed);
    Write(folder / "deep.txt",
          std::string("d\n\n") + kDeepPng + "\n" + kTiff + "\n" + kGrey + "\n");
    Write(folder / "deep12.txt", std::string("l\n\n") + kDeepPng + "\n" + kDeepPng + "\n");
    Write(folder / "some-kept.txt",
          std::string("P\n\n") + kTiff + "\n" + kDeepPng + "\n" + kTiff + "\n" + kColour + "\n");
    Write(folder / "float.txt", std::string("x\ny\n") + kTiff + "\n" + kFloatTiff + "\n");
    Write(folder / "devices.txt",
          "x\ny\n/dev/zero\n/dev/null\n/proc/self/status\n" + std::string(kPipe) + "\n");
}

} // namespace NSeeds
