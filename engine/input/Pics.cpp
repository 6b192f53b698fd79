#include "input/Pics.h"

#include "base/Errors.h"
#include "base/Memory.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "image/PixelAccess.h"
#include "input/ListFile.h"
#include "input/PictureInput.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>

void TPics::SetCount(std::int32_t count, std::int32_t width, std::int32_t height) {
    if (count < 0 || count > kMaxPlanes)
        throw std::invalid_argument("a stack of " + std::to_string(count) +
                                    " planes is not possible");
    // The new planes are built before the old ones go, so a failure (an impossible
    // size, no memory) leaves the stack as it was. Fresh planes cost no memory
    // until written (see TGrid).
    std::vector<TPic> planes(static_cast<std::size_t>(count));
    for (TPic& plane : planes)
        plane.SetSize(width, height);
    Planes = std::move(planes);
    DeepPlanes.clear();
    sources_.clear();
    ++generation_;
}

const TDeepPic* TPics::DeepPlane(std::int32_t index) const {
    if (index < 0 || std::size_t(index) >= DeepPlanes.size() ||
        DeepPlanes[std::size_t(index)].Data.size() == 0)
        return nullptr;
    return &DeepPlanes[std::size_t(index)];
}

// Beside the planes, each decoder takes working memory (see
// TPictureHeader), and each thread a stack and an allocator arena, which count against
// a limit on the address space (an arena reserves up to 128 MiB while it is made).
int DecodeThreads(int setting, std::size_t photographs, std::uint64_t planeBytes,
                  std::uint64_t decoderBytes) {
    constexpr std::uint64_t kThreadAddressBytes = std::uint64_t(136) << 20;
    constexpr std::uint64_t kThreadBytes = std::uint64_t(1) << 20;
    auto fitting = [planeBytes](std::uint64_t budget, std::uint64_t each) {
        return budget == UINT64_MAX ? UINT64_MAX
                                    : (budget > planeBytes ? budget - planeBytes : 0) / each;
    };
    const TMemoryBudget budget = MemoryBudget();
    const std::uint64_t threads =
        std::min({std::uint64_t(ThreadsFor(setting)), std::uint64_t(photographs),
                  fitting(budget.Physical, decoderBytes + kThreadBytes),
                  fitting(budget.Address, decoderBytes + kThreadAddressBytes)});
    return static_cast<int>(std::max<std::uint64_t>(threads, 1));
}

std::string StackMemoryProblem(const std::vector<TPictureSize>& sizes) {
    std::uint64_t needed = 0;
    bool sameSize = true;
    for (const TPictureSize& size : sizes) {
        needed +=
            std::uint64_t(size.Width) * std::uint64_t(size.Height) * std::uint64_t(size.Bytes);
        sameSize =
            sameSize && size.Width == sizes.front().Width && size.Height == sizes.front().Height;
    }
    const std::uint64_t available = MemoryBudget().Usable();
    if (needed <= available)
        return {};
    std::string text =
        sizes.size() == 1 ? "The picture" : "The " + CountText(sizes.size(), "picture");
    if (sameSize)
        text += " of " + SizeText(sizes.front().Width, sizes.front().Height);
    return text + (sizes.size() == 1 ? " needs " : " need ") + ByteSizeText(needed) + "; " +
           ByteSizeText(available) + (available == 1 ? " is" : " are") + " available.";
}

bool TPics::LoadFromList(const std::string& fileName, bool namesOnly, std::uint8_t channel,
                         const TLoadOptions& options) {
    lastError_.clear();
    std::vector<std::string> names;
    if (!ReadListFile(fileName, namesOnly, options.BaseFolder, names, lastError_))
        return false;

    // Every header is read before any pixel is decoded: what the stack will take
    // is known, and a stack that cannot fit is refused while it costs nothing. A
    // photograph that is missing, or whose header cannot be read, counts for
    // nothing here; its turn to be decoded settles it, as it would have.
    const TPictureSettings settings{channel, options.Bits};
    const TPictureSurvey survey = SurveyPictures(names, settings);
    const std::vector<std::optional<TPictureHeader>>& headers = survey.Headers;
    // The planes kept at full depth: all that FullDepth names, once one of them
    // holds more than 8 bits a sample.
    std::vector<char> deep(names.size(), 0);
    bool anyDeep = false;
    for (std::size_t i = 0; i < names.size(); ++i) {
        deep[i] = options.FullDepth && options.FullDepth(std::int32_t(i)) ? 1 : 0;
        anyDeep = anyDeep || (deep[i] && headers[i] && headers[i]->Deep());
    }
    if (!anyDeep)
        deep.assign(names.size(), 0);
    std::vector<TPictureSize> sizes;
    std::uint64_t planeBytes = 0;
    const std::uint64_t decoderBytes = survey.DecoderBytes;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!headers[i])
            continue;
        sizes.push_back({headers[i]->Width, headers[i]->Height, deep[i] ? 3 : 1});
        planeBytes += std::uint64_t(headers[i]->Width) * std::uint64_t(headers[i]->Height) *
                      std::uint64_t(sizes.back().Bytes);
    }
    if (std::string problem = StackMemoryProblem(sizes); !problem.empty()) {
        lastError_ = std::move(problem);
        return false;
    }

    SetCount(static_cast<std::int32_t>(names.size()), 0, 0);
    sources_ = names;
    sources_.insert(sources_.begin(), fileName);
    TLoadOptions bounded = options;
    bounded.Threads = DecodeThreads(options.Threads, names.size(), planeBytes, decoderBytes);
    const std::vector<char> found = DecodePlanes(names, settings, deep, bounded);
    if (std::find(found.begin(), found.end(), 0) == found.end())
        return true;
    lastError_ = MissingText(fileName, names, found);
    return false;
}

std::vector<char> TPics::DecodePlanes(const std::vector<std::string>& names,
                                      const TPictureSettings& settings,
                                      const std::vector<char>& deep, const TLoadOptions& options) {
    std::vector<std::int32_t> order(names.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = std::int32_t(i);
    const bool anyDeep = std::find(deep.begin(), deep.end(), 1) != deep.end();
    if (anyDeep)
        DeepPlanes.resize(Planes.size());
    // Decoding one photograph touches only its own planes, so several are decoded
    // at once.
    TDecodeResult result = DecodeEach(names, order, options, [&](std::int32_t i) {
        TPic& plane = Planes[std::size_t(i)];
        const std::string& name = names[std::size_t(i)];
        if (options.Keep && !options.Keep(i))
            return LoadPlaneSizeFromPicture(plane, name, settings);
        TDeepPic* full = deep[std::size_t(i)] ? &DeepPlanes[std::size_t(i)] : nullptr;
        return LoadPlaneFromPicture(plane, name, settings, full);
    });
    if (result.Error) {
        for (std::size_t i = std::size_t(result.FirstError); i < Planes.size(); ++i) {
            Planes[i] = TPic{};
            if (anyDeep)
                DeepPlanes[i] = TDeepPic{};
        }
        std::rethrow_exception(result.Error);
    }
    return std::move(result.Found);
}

TDecodeResult DecodeEach(const std::vector<std::string>& names,
                         const std::vector<std::int32_t>& order, const TLoadOptions& options,
                         const std::function<bool(std::int32_t)>& decodeOne) {
    const auto count = static_cast<std::int32_t>(names.size());
    TDecodeResult result;
    result.Found.assign(names.size(), 0);
    result.FirstError = count;
    std::vector<char> done(names.size(), 0);
    std::vector<std::exception_ptr> errors(names.size());
    std::mutex mutex;
    std::condition_variable changed;

    // A photograph after a failed one is skipped: the failure is what the load
    // reports whatever it holds. Errors stay here, so that every photograph before
    // the lowest failure is decoded whatever the order.
    auto decode = [&](std::int32_t task) {
        const std::int32_t i = order[std::size_t(task)];
        {
            std::lock_guard lock(mutex);
            if (i > result.FirstError) {
                done[std::size_t(i)] = 1;
                return;
            }
        }
        bool ok = false;
        std::exception_ptr error;
        try {
            ok = decodeOne(i);
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(mutex);
        result.Found[std::size_t(i)] = ok ? 1 : 0;
        done[std::size_t(i)] = 1;
        if (error) {
            errors[std::size_t(i)] = error;
            result.FirstError = std::min(result.FirstError, i);
        }
        changed.notify_all();
    };

    // Progress is reported from the calling thread, in the list's order, as the
    // photographs come in; it stops at one that raised, as a load one by one would.
    // Called with the lock held; releases it around the callback.
    std::int32_t reported = 0;
    auto reportDone = [&](std::unique_lock<std::mutex>& lock) {
        while (reported < count && reported < result.FirstError && done[std::size_t(reported)]) {
            const std::int32_t i = reported++;
            if (!result.Found[std::size_t(i)] || !options.Progress)
                continue;
            lock.unlock();
            options.Progress(i, names[std::size_t(i)]);
            lock.lock();
        }
    };

    const int threads = ThreadsFor(options.Threads);
    std::optional<TBackgroundTask> decoding;
    try {
        if (threads > 1)
            decoding.emplace([&](std::stop_token) { ForEachIndex(count, threads, decode); });
    } catch (const std::system_error&) {
    }
    if (decoding) {
        std::unique_lock lock(mutex);
        while (reported < count && reported < result.FirstError) {
            WaitServing(
                lock, changed,
                [&] { return reported >= result.FirstError || done[std::size_t(reported)] != 0; },
                options.Idle);
            reportDone(lock);
        }
        lock.unlock();
        decoding->Wait(); // raises only what the reporting itself raised
    } else {
        // One thread: the photographs one by one, each reported as it is done.
        for (std::int32_t task = 0; task < count; ++task) {
            decode(task);
            std::unique_lock lock(mutex);
            reportDone(lock);
        }
    }
    if (result.FirstError < count)
        result.Error = errors[std::size_t(result.FirstError)];
    return result;
}

bool TPics::CheckSize(std::int32_t& height, std::int32_t& width) const {
    bool result = true;
    for (std::size_t i = 1; i < Planes.size(); ++i) {
        if (Planes[i].Width != Planes[0].Width || Planes[i].Height != Planes[0].Height)
            result = false;
        if (result) {
            width = Planes[0].Width;
            height = Planes[0].Height;
        }
    }
    return result;
}

std::uint8_t TPics::GetValue(std::uint8_t index, std::int32_t row, std::int32_t col) const {
    std::uint8_t value = 0;
    TryGetValue(index, row, col, value);
    return value;
}

bool TPics::TryGetValue(std::uint8_t index, std::int32_t row, std::int32_t col,
                        std::uint8_t& value) const {
    return index < Planes.size() && GetPlaneValue(Planes[index], row, col, value);
}

void TPics::ShowPicture(std::uint8_t index, TBitmap& bitmap) const {
    if (index >= Planes.size())
        return;
    const TPic& plane = Planes[index];
    TBitmapPixMan pixels(bitmap);
    for (std::int32_t row = 0; row < plane.Height; ++row)
        pixels.SetGreyRow(row, plane.Data[row], plane.Width);
}
