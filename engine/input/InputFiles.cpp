#include "input/InputFiles.h"

#include "files/FileUtil.h"
#include "input/ListFile.h"
#include "input/PicSet.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

bool IsPicSetHeader(const std::string& input) {
    std::string ext = input.substr(input.size() - std::min<std::size_t>(input.size(), 4));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".bbf" && ExtractFileName(input).size() >= 4;
}

std::string PicSetHeaderName(const std::string& name) {
    return ChangeFileExt(name, ".bbf");
}

std::vector<std::string> InputFiles(const std::string& input) {
    std::vector<std::string> files{input};
    std::string error;
    if (IsPicSetHeader(input)) {
        TPicSetHeader header;
        if (ReadPicSetHeader(input, ExtractFilePath(input), header, error))
            files.insert(files.end(), header.PlaneFiles.begin(), header.PlaneFiles.end());
    } else {
        std::vector<std::string> names;
        if (ReadListFile(input, false, ExtractFilePath(input), names, error))
            files.insert(files.end(), names.begin(), names.end());
    }
    return files;
}

bool InputIsMissing(const std::string& input) {
    for (const std::string& file : InputFiles(input)) {
        std::error_code error;
        if (!std::filesystem::exists(file, error) && !error)
            return true;
    }
    return false;
}
