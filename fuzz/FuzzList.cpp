// Arbitrary text as a list file, in a folder that holds a few real small
// photographs (JPEG, PNG and TIFF) and some junk (see FillListFolder); names may
// point anywhere. Each input is loaded on one thread and on two, which must give
// the same result. Only EFileError and EPictureError may come out of the loader.
//
// The first byte of line 1 (which the loader skips) picks the options: 'N' for
// names only, its value modulo 4 for the channel, bit 2 for keeping every plane at
// full depth, bit 3 for Bits 12, and bit 4 for keeping only the values of the
// even planes (the others get their size only).

#include "base/Errors.h"
#include "FuzzSupport.h"
#include "PicHolder.h"

#include <cstring>
#include <string_view>
#include <typeinfo>

namespace {

struct TOutcome {
    bool Loaded = false;
    const std::type_info* Raised = nullptr; // the exception's type, if one came out
    std::string Message;                    // and its message
    std::string LastError;
    std::vector<std::int32_t> Reported; // planes handed to the progress callback
    TPics Pics;
};

void Load(TOutcome& outcome, const std::string& list, std::uint8_t first, int threads) {
    const bool namesOnly = first == 'N';
    const auto channel = static_cast<std::uint8_t>(first % 4);
    TLoadOptions options;
    options.BaseFolder = ScratchFolder();
    options.Threads = threads;
    if (first & 4)
        options.FullDepth = [](std::int32_t) { return true; };
    if (first & 8)
        options.Bits = 12;
    if (first & 16)
        options.Keep = [](std::int32_t plane) { return plane % 2 == 0; };
    options.Progress = [&](std::int32_t plane, const std::string&) {
        if (!outcome.Reported.empty() && plane <= outcome.Reported.back())
            Finding("progress reported plane " + std::to_string(plane) + " after plane " +
                    std::to_string(outcome.Reported.back()));
        outcome.Reported.push_back(plane);
    };
    try {
        outcome.Loaded = outcome.Pics.LoadFromList(list, namesOnly, channel, options);
        outcome.LastError = outcome.Pics.LastError();
    } catch (const EFileError& e) {
        outcome.Raised = &typeid(e);
        outcome.Message = e.what();
    } catch (const EPictureError& e) {
        outcome.Raised = &typeid(e);
        outcome.Message = e.what();
    }
}

template <class TPlane> bool SamePlane(const TPlane& p, const TPlane& q) {
    return p.Width == q.Width && p.Height == q.Height && p.Data.size() == q.Data.size() &&
           (p.Data.size() == 0 ||
            std::memcmp(p.Data.data(), q.Data.data(), p.Data.size() * sizeof *p.Data.data()) == 0);
}

bool SamePlanes(const TPics& a, const TPics& b) {
    if (a.Count() != b.Count() || a.DeepPlanes.size() != b.DeepPlanes.size())
        return false;
    for (std::size_t i = 0; i < a.Planes.size(); ++i)
        if (!SamePlane(a.Planes[i], b.Planes[i]))
            return false;
    for (std::size_t i = 0; i < a.DeepPlanes.size(); ++i)
        if (!SamePlane(a.DeepPlanes[i], b.DeepPlanes[i]) ||
            a.DeepPlanes[i].SourceMax != b.DeepPlanes[i].SourceMax)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FillListFolder(ScratchFolder());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string list = ScratchFolder() + "/list.txt";
    WriteScratchFile(list, data, size);
    const std::uint8_t first = size > 0 ? data[0] : 0;

    TOutcome one;
    TOutcome two;
    Load(one, list, first, 1);
    Load(two, list, first, 2);

    const bool sameRaised = one.Raised == nullptr || two.Raised == nullptr
                                ? one.Raised == two.Raised
                                : *one.Raised == *two.Raised;
    if (!sameRaised || one.Message != two.Message || one.Loaded != two.Loaded ||
        one.LastError != two.LastError || one.Reported != two.Reported ||
        !SamePlanes(one.Pics, two.Pics))
        Finding("loading on one thread and on two gives different results");
    if (!one.Raised && one.Loaded != one.LastError.empty())
        Finding("LoadFromList returned " + std::string(one.Loaded ? "true" : "false") +
                " with the reason \"" + one.LastError + "\"");
    return 0;
}
