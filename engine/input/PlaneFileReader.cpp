// Plane files read in bands on several threads: each band by whichever thread
// takes it, the planes settled in order on the calling thread.

#include "input/PlaneFileReader.h"

#include "base/Errors.h"
#include "base/Parallel.h"
#include "base/Text.h"
#include "input/PlaneColumns.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace {

// A plane is read in bands of about this size, each by one thread, so that even a
// single large plane keeps every thread busy.
constexpr std::size_t kBandBytes = std::size_t(4) << 20;

} // namespace

namespace picset_detail {

void TPlaneRead::Prepare(TPic& plane, std::string fileName) {
    Plane = &plane;
    FileName = std::move(fileName);
    Bytes = std::size_t(plane.Width) * std::size_t(plane.Height);
    ChunkBytes = picset_detail::ChunkBytes(plane.Height);
    BandBytes = ChunkBytes * std::max<std::size_t>(1, kBandBytes / ChunkBytes);
    // A plane without bytes has one band all the same: its file must be there.
    Bands =
        static_cast<std::int32_t>(std::max<std::size_t>(1, (Bytes + BandBytes - 1) / BandBytes));
    BandErrors.assign(std::size_t(Bands), nullptr);
    BandEnds.resize(std::size_t(Bands));
    for (std::int32_t band = 0; band < Bands; ++band)
        BandEnds[std::size_t(band)] = BandBegin(band);
    BandsLeft = Bands;
}

bool TPlaneRead::StoredFrom(std::int32_t first) const {
    for (std::int32_t band = first; band < Bands; ++band)
        if (BandEnds[std::size_t(band)] > BandBegin(band))
            return true;
    return false;
}

const TInputFile& TPlaneRead::OpenedFile() {
    std::lock_guard lock(FileLock);
    if (!Opened) {
        Opened = true;
        try {
            File.emplace(FileName);
            Available = std::min(Bytes, File->Size());
        } catch (...) {
            OpenError = std::current_exception();
        }
    }
    if (OpenError)
        std::rethrow_exception(OpenError);
    return *File;
}

void TPlaneRead::ReadBand(std::int32_t band, std::uint8_t* buffer) {
    std::size_t& reached = BandEnds[std::size_t(band)];
    try {
        const TInputFile& file = OpenedFile();
        const std::size_t end = std::min(BandEnd(band), Available);
        while (reached < end) {
            const std::size_t wanted = std::min(ChunkBytes, end - reached);
            const std::size_t got = ReadAt(file, FileName, buffer, wanted, reached);
            StoreColumnBytes(*Plane, reached, buffer, got);
            reached += got;
            if (got < wanted)
                break; // the file has become shorter since it was opened
        }
    } catch (...) {
        BandErrors[std::size_t(band)] = std::current_exception();
    }
}

std::exception_ptr TPlaneRead::Finish(std::size_t& stored) {
    stored = Bytes;
    std::exception_ptr error;
    std::int32_t band = 0;
    for (; band < Bands; ++band) {
        if (BandErrors[std::size_t(band)]) {
            error = BandErrors[std::size_t(band)];
            stored = 0;
            break;
        }
        if (BandEnds[std::size_t(band)] < BandEnd(band)) {
            stored = BandEnds[std::size_t(band)];
            break;
        }
    }
    if (StoredFrom(error ? 0 : band + 1))
        ClearColumnBytesFrom(*Plane, stored);
    File.reset();
    if (!error && stored < Bytes)
        error = std::make_exception_ptr(EFileError(
            "Cannot read " + QuotedName(FileName) + ": it holds " + std::to_string(stored) +
            " bytes, but a plane of " + SizeText(Plane->Width, Plane->Height) + " pixels needs " +
            std::to_string(Bytes) + "."));
    return error;
}

TReadFailure ReadPlanes(std::vector<TPlaneRead>& planes, int threads,
                        const std::function<void(std::int32_t, const std::string&)>& progress,
                        const std::function<void()>& idle) {
    const auto count = static_cast<std::int32_t>(planes.size());
    if (count == 0)
        return {};
    std::vector<std::pair<std::int32_t, std::int32_t>> bands; // plane, band
    std::size_t bufferBytes = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const TPlaneRead& plane = planes[std::size_t(i)];
        for (std::int32_t band = 0; band < plane.Bands; ++band)
            bands.emplace_back(i, band);
        bufferBytes = std::max(bufferBytes, std::min(plane.ChunkBytes, plane.Bytes));
    }
    const int workers = static_cast<int>(
        std::clamp<std::size_t>(std::size_t(std::max(threads, 1)), 1, bands.size()));
    std::vector<std::unique_ptr<std::uint8_t[]>> buffers;
    for (int worker = 0; worker < workers; ++worker)
        buffers.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(bufferBytes));

    std::mutex lock;
    std::condition_variable changed;
    bool ended = false; // the background reading is over
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> next{0};
    auto readBand = [&](std::size_t index, std::uint8_t* buffer) {
        TPlaneRead& plane = planes[std::size_t(bands[index].first)];
        plane.ReadBand(bands[index].second, buffer);
        std::lock_guard guard(lock);
        if (--plane.BandsLeft == 0)
            changed.notify_all();
    };
    auto work = [&](std::int32_t worker) {
        for (std::size_t index; !stop && (index = next++) < bands.size();)
            readBand(index, buffers[std::size_t(worker)].get());
    };
    auto endReading = [&] {
        std::lock_guard guard(lock);
        ended = true;
        changed.notify_all();
    };
    auto waitUntil = [&](auto ready) {
        std::unique_lock guard(lock);
        WaitServing(guard, changed, ready, idle);
    };

    std::optional<TBackgroundTask> reading;
    if (workers > 1) {
        try {
            reading.emplace([&](std::stop_token) {
                try {
                    ForEachIndex(workers, workers, work);
                } catch (...) {
                    endReading();
                    throw;
                }
                endReading();
            });
        } catch (const std::system_error&) {
            // No thread to be had: the calling thread reads every band itself.
        }
    }

    TReadFailure failure;
    std::int32_t kept = 0; // planes settled; the later ones end 0 when the reading stops
    auto clearUnsettled = [&] {
        for (std::int32_t i = kept; i < count; ++i)
            if (planes[std::size_t(i)].StoredFrom(0))
                std::memset(planes[std::size_t(i)].Plane->Data.data(), 0,
                            planes[std::size_t(i)].Bytes);
    };
    try {
        for (std::int32_t i = 0; i < count; ++i) {
            TPlaneRead& plane = planes[std::size_t(i)];
            if (reading) {
                waitUntil([&] { return plane.BandsLeft == 0 || ended; });
                if (plane.BandsLeft != 0) {
                    reading->Wait(); // raises what ended the reading early
                    throw std::logic_error("the reading of the plane files ended early");
                }
            } else {
                for (std::int32_t band = 0; band < plane.Bands; ++band)
                    plane.ReadBand(band, buffers.front().get());
            }
            kept = i + 1;
            std::size_t stored = 0;
            if (std::exception_ptr error = plane.Finish(stored)) {
                failure = {i, error, stored};
                break;
            }
            if (progress)
                progress(i, plane.FileName);
        }
        stop = true;
        if (reading) {
            waitUntil([&] { return ended; });
            reading->Wait();
        }
    } catch (...) {
        stop = true;
        if (reading) {
            try {
                reading->Wait();
            } catch (...) {
                // What ended the reading early matters less than what is raised here.
            }
        }
        clearUnsettled();
        throw;
    }
    clearUnsettled();
    return failure;
}

} // namespace picset_detail
