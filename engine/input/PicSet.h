#pragma once
// Picture sets: a header text file naming one raw plane file per plane, the plane
// bytes stored column by column (offset column × Height + row).

#include "input/Pics.h"

#include <cstddef>
#include <string>
#include <vector>

/// Writes the plane's Width × Height bytes, column by column, replacing the file
/// atomically. Raises EFileError when it cannot be written.
void SavePlane(const TPic& plane, const std::string& fileName);

/// Fills the plane (at its own size) from the file, column by column, on every
/// core; bytes beyond Width × Height are ignored. Raises EFileError when the file
/// cannot be read or is too short; the bytes before the first missing one stay
/// stored, and a file that cannot be read leaves the plane as it was.
void LoadPlane(TPic& plane, const std::string& fileName);

/// Writes the header (plane 0's size, one plane file name per plane) and the plane
/// files beside it as one whole: every file is written and flushed first, then the
/// former header is removed, the plane files are put in place and the header last
/// (see TAtomicFileSet). With namesOnly the header lists bare file names. Raises
/// EFileError when a file cannot be written, and std::invalid_argument for an empty
/// stack or when a file of the set is one the planes were loaded from.
void SavePicSet(const TPics& pics, const std::string& headerFileName, bool namesOnly);

/// The files SavePicSet writes for a stack of planes: the plane files in order,
/// then the header.
std::vector<std::string> PicSetFileNames(const std::string& headerFileName, std::size_t planes);

/// What a picture-set header says.
struct TPicSetHeader {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::vector<std::string> PlaneFiles; ///< relative names resolved
};

/// Reads a picture-set header without loading a plane: false, with error saying
/// why, for one that cannot be read, gives an impossible size, names no plane file
/// or has a line that names no file that LoadPicSet would load. A true result does
/// not promise that the plane files load.
bool ReadPicSetHeader(const std::string& headerFileName, const std::string& baseFolder,
                      TPicSetHeader& header, std::string& error);

/// Loads a picture set. False when it cannot be loaded completely; pics.LastError()
/// then says which line or file and why, and the stack is left as the failure
/// allows (unchanged for a header that cannot be used, one that names a temporary
/// file of an unfinished save, or one whose planes would not fit into the memory
/// the process may use). Raises nothing. With a
/// baseFolder, relative plane names are resolved against it instead of the current
/// directory. The plane files are read on every core.
bool LoadPicSet(TPics& pics, const std::string& headerFileName, const std::string& baseFolder = {});

/// LoadPicSet with relative plane names resolved against options.BaseFolder, the
/// plane files read on options.Threads threads (0: one per core), several planes
/// at once and a large plane in bands. options.Progress is called on the calling
/// thread for each plane read, in plane order, and options.Idle about every 0.1 s
/// while it waits for the other threads. The planes, the result and the reason are
/// those of LoadPicSet whatever the number of threads: of several planes that
/// cannot be read, the first one's reason is given, the planes before it are
/// loaded and the later ones are 0. A callback that raises ends the load: false,
/// with its message in the reason; the planes up to the last one reported stay,
/// the later ones are 0.
bool LoadPicSet(TPics& pics, const std::string& headerFileName, const TLoadOptions& options);
