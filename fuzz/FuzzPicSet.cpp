// An arbitrary picture-set header plus arbitrary plane files. The input is cut at
// every kSectionMarker: section 0 becomes the header, section k the plane file
// PicSetFileName(k - 1), all in the scratch folder. LoadPicSet must return true or
// false with a reason, and never raise.
//
// Names in the header are resolved against the scratch folder. A line that holds
// a '/' must be one of a few special files (kSpecialFiles: devices, files of
// /proc that report no size); an input with any other is skipped: other paths
// would let a header fill 256 planes from large files elsewhere on the system
// (/proc/self/exe, say), which makes a big stack, not a fault.

#include "FuzzSupport.h"
#include "PicHolder.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>

namespace {

constexpr std::string_view kSpecialFiles[] = {
    "/dev/zero",         "/dev/null",      "/dev/full",          "/dev/urandom",
    "/proc/self/status", "/proc/self/mem", "/proc/self/pagemap", "/proc/self/maps",
    "/proc/self/cwd",    "/dev/shm",
};

// Whether the header names only files the fuzzer may load (see above).
bool AcceptableNames(std::string_view header) {
    std::size_t start = 0;
    while (start < header.size()) {
        std::size_t end = header.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = header.size();
        const std::string_view line = header.substr(start, end - start);
        if (line.find('/') != std::string_view::npos &&
            std::find(std::begin(kSpecialFiles), std::end(kSpecialFiles), line) ==
                std::end(kSpecialFiles))
            return false;
        start = end + 1;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = ScratchFolder();
    static std::size_t written = 0; // plane files the last input left behind

    const std::vector<std::string_view> sections =
        SplitSections(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!AcceptableNames(sections[0]))
        return -1; // not added to the corpus

    for (std::size_t i = 0; i < written; ++i)
        std::remove((folder + "/" + PicSetFileName(i)).c_str());
    written = std::min(sections.size() - 1, kMaxPicSetFiles);
    for (std::size_t i = 0; i < written; ++i)
        WriteScratchFile(folder + "/" + PicSetFileName(i), sections[i + 1]);
    const std::string header = folder + "/" + kPicSetHeader;
    WriteScratchFile(header, sections[0]);

    TPics pics;
    bool loaded = false;
    try {
        loaded = LoadPicSet(pics, header, folder);
    } catch (const std::exception& e) {
        Finding(std::string("LoadPicSet raised: ") + e.what());
    } catch (...) {
        Finding("LoadPicSet raised something that is no std::exception");
    }
    if (loaded != pics.LastError().empty())
        Finding("LoadPicSet returned " + std::string(loaded ? "true" : "false") +
                " with the reason \"" + pics.LastError() + "\"");
    for (const TPic& plane : pics.Planes)
        if (plane.Data.size() != std::size_t(plane.Width) * std::size_t(plane.Height))
            Finding("a loaded plane of " + std::to_string(plane.Width) + " x " +
                    std::to_string(plane.Height) + " holds " + std::to_string(plane.Data.size()) +
                    " bytes");
    if (loaded) {
        for (const TPic& plane : pics.Planes)
            if (plane.Width != pics.Planes[0].Width || plane.Height != pics.Planes[0].Height)
                Finding("a loaded picture set has planes of different sizes");
    }
    return 0;
}
