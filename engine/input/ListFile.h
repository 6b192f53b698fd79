#pragma once
// JPEG list files: two header lines, then one photograph name per line.

#include <cstddef>
#include <string>
#include <vector>

/// A list file names its photographs from line kListHeaderLines + 1 on.
inline constexpr std::size_t kListHeaderLines = 2;

/// Reads a JPEG list file into the names of its photographs: with namesOnly only
/// the part of each name after its last '/', and relative names resolved against
/// baseFolder (the current directory when it is empty). False, with error set, when
/// the list file is missing or unreadable, is no text (a photograph or another
/// binary file picked as a list), or names no photograph or more than 256.
bool ReadListFile(const std::string& fileName, bool namesOnly, const std::string& baseFolder,
                  std::vector<std::string>& names, std::string& error);

/// Why the photographs of names whose found flag is 0 were not loaded from the list
/// file: "Photographs of the list file "l.txt" not found (missing, a folder or an
/// empty name): line 3 "a.jpg", line 9 "b.jpg".", naming at most five and then
/// "and N more".
std::string MissingText(const std::string& listFileName, const std::vector<std::string>& names,
                        const std::vector<char>& found);
