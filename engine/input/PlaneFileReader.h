#pragma once
// Plane files read on several threads, for the picture-set files of engine/input:
// a plane is read in bands of whole chunks that any thread may take, several
// planes at once, and the result is what reading them one after another gives.

#include "files/FileUtil.h"
#include "image/Plane.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace picset_detail {

/// One plane being read from its file, in bands of whole chunks that any thread
/// may take, and what reading each band gave.
struct TPlaneRead {
    TPic* Plane = nullptr;
    std::string FileName;
    std::size_t Bytes = 0; // Width × Height
    std::size_t ChunkBytes = 0;
    std::size_t BandBytes = 0;
    std::int32_t Bands = 0;

    // The file: opened by the first band that needs it, closed once all are read.
    std::mutex FileLock;
    bool Opened = false;
    std::optional<TInputFile> File;
    std::exception_ptr OpenError;
    std::size_t Available = 0; // the bytes of the plane that the file held when opened

    // Per band, set by the thread that reads it: what it raised, and where the bytes
    // stored from the band's start end.
    std::vector<std::exception_ptr> BandErrors;
    std::vector<std::size_t> BandEnds;
    std::int32_t BandsLeft = 0; // under the reader's lock

    /// Sets the read up for plane (at its own size) from fileName, no band read.
    void Prepare(TPic& plane, std::string fileName);
    std::size_t BandBegin(std::int32_t band) const {
        return std::min(Bytes, std::size_t(band) * BandBytes);
    }
    std::size_t BandEnd(std::int32_t band) const { return BandBegin(band + 1); }
    /// Whether any band from `first` on stored bytes.
    bool StoredFrom(std::int32_t first) const;

    /// The open file; raises what opening it raised, for every band alike.
    const TInputFile& OpenedFile();

    /// Reads one band into the plane, chunk by chunk through buffer.
    void ReadBand(std::int32_t band, std::uint8_t* buffer);

    /// Once every band is read: settles what reading the file gave, as reading it
    /// from its start would have met it. The first band in the file's order that
    /// raised or ended early decides; the plane keeps exactly the bytes before that
    /// point, none after an error. Gives the error, and in stored the bytes kept.
    std::exception_ptr Finish(std::size_t& stored);
};

/// The plane whose file could not be read, when one could not.
struct TReadFailure {
    std::int32_t Plane = -1;
    std::exception_ptr Error;
    std::size_t Stored = 0; // the bytes of its file that the plane kept
};

/// Reads every plane from its file on up to `threads` threads, the bands of all
/// planes in order. The calling thread settles the planes in order as their bands
/// come in, calls progress for each one read and idle about every 0.1 s while it
/// waits. The first plane that cannot be read, in plane order, ends the reading
/// as it would have ended reading them one after another: the planes before it
/// hold their files, it keeps what its file gave, every later one stays 0. A
/// callback that raises ends the reading as well: the planes settled before it
/// raised stay, the later ones are 0, and what it raised is raised again.
TReadFailure ReadPlanes(std::vector<TPlaneRead>& planes, int threads,
                        const std::function<void(std::int32_t, const std::string&)>& progress,
                        const std::function<void()>& idle);

} // namespace picset_detail
