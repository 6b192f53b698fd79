// Arbitrary text as a JPEG list file, in a folder that holds a few real small
// photographs and some junk (see FillListFolder); names may point anywhere. Each
// input is loaded on one thread and on two, which must give the same result.
// Only EFileError and EJpegError may come out of the loader.
//
// The first byte of line 1 (which the loader skips) picks the options: 'N' for
// names only, and its value modulo 4 for the channel.

#include "Errors.h"
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

void Load(TOutcome& outcome, const std::string& list, bool namesOnly, std::uint8_t channel,
          int threads) {
    TLoadOptions options;
    options.BaseFolder = ScratchFolder();
    options.Threads = threads;
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
    } catch (const EJpegError& e) {
        outcome.Raised = &typeid(e);
        outcome.Message = e.what();
    }
}

bool SamePlanes(const TPics& a, const TPics& b) {
    if (a.Count() != b.Count())
        return false;
    for (std::size_t i = 0; i < a.Planes.size(); ++i) {
        const TPic& p = a.Planes[i];
        const TPic& q = b.Planes[i];
        if (p.Width != q.Width || p.Height != q.Height || p.Data.size() != q.Data.size() ||
            (p.Data.size() > 0 && std::memcmp(p.Data.data(), q.Data.data(), p.Data.size()) != 0))
            return false;
    }
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
    const bool namesOnly = size > 0 && data[0] == 'N';
    const auto channel = static_cast<std::uint8_t>(size > 0 ? data[0] % 4 : 0);

    TOutcome one;
    TOutcome two;
    Load(one, list, namesOnly, channel, 1);
    Load(two, list, namesOnly, channel, 2);

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
