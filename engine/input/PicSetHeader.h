#pragma once
// The text of a picture-set header and the names of its plane files, for the
// picture-set files of engine/input (see PicSet.h for the load and save API).

#include "input/Pics.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace picset_detail {

/// Lines of the header before the plane file names; line numbers count from 1.
inline constexpr std::size_t kHeaderLines = 4;

/// File name of plane index as the header lists it and as it is written: folder
/// of the header, index, "_", header's file name with the extension ".bin".
std::string PlaneFileName(const std::string& headerFileName, std::size_t index);

/// The header's lines, once its line count and plane size are known to be usable;
/// false with error set otherwise. Raises EFileError when it cannot be read.
bool ReadHeaderLines(const std::string& headerFileName, std::vector<std::string>& lines,
                     std::int32_t& width, std::int32_t& height, std::string& error);

/// The header SavePicSet writes for a stack that is not empty: plane 0's size and
/// one plane file name per plane (bare names with namesOnly), every line ended by
/// CR LF. Raises std::invalid_argument for a name that holds a line break.
std::string PicSetHeaderText(const TPics& pics, const std::string& headerFileName, bool namesOnly);

} // namespace picset_detail
