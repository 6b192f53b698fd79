#pragma once
// What an input name stands for: a list file of photographs or a picture-set
// header, and the files it is made of.

#include <string>
#include <vector>

/// Whether input names a picture-set header (a name ending in ".bbf", any case)
/// rather than a list file.
bool IsPicSetHeader(const std::string& input);

/// The header a picture set is saved under when name is chosen for it: name with
/// its extension replaced by ".bbf".
std::string PicSetHeaderName(const std::string& name);

/// The files an input is made of: the list file and the photographs it names, or
/// the picture-set header and its plane files; relative names resolved against the
/// input's folder. Only the input itself when it cannot be read.
std::vector<std::string> InputFiles(const std::string& input);

/// Whether input, or a file it names (a photograph, a plane file), does not exist:
/// tells a missing file from a damaged one once a load has failed.
bool InputIsMissing(const std::string& input);
