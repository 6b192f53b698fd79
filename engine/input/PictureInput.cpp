#include "input/PictureInput.h"

#include "base/Errors.h"
#include "base/Text.h"
#include "files/FileUtil.h"
#include "input/JpegInput.h"
#include "input/PngInput.h"
#include "input/TiffInput.h"

#include <algorithm>
#include <cstring>
#include <vector>

TPictureFormat PictureFormatOf(const std::uint8_t* bytes, std::size_t size) {
    static constexpr std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= sizeof kPng && std::memcmp(bytes, kPng, sizeof kPng) == 0)
        return TPictureFormat::Png;
    // "II" or "MM", then 42 (or BigTIFF's 43) in that byte order.
    if (size >= 4 && bytes[0] == bytes[1] && (bytes[0] == 'I' || bytes[0] == 'M')) {
        const int magic = bytes[0] == 'I' ? bytes[2] | bytes[3] << 8 : bytes[2] << 8 | bytes[3];
        if (magic == 42 || magic == 43)
            return TPictureFormat::Tiff;
    }
    return TPictureFormat::Jpeg;
}

std::string NoMemoryForPictureText(std::int32_t width, std::int32_t height) {
    return "there is not enough memory for a picture of " + SizeText(width, height) + " pixels (" +
           ByteSizeText(std::uint64_t(width) * std::uint64_t(height)) + ")";
}

namespace {

TPictureFormat FormatOf(const TInputFile& file, const std::string& fileName) {
    std::uint8_t bytes[8] = {};
    const std::size_t size = ReadAt(file, fileName, bytes, sizeof bytes, 0);
    return PictureFormatOf(bytes, size);
}

void DecodeFile(const TInputFile& file, const std::string& fileName,
                const TPictureSettings& settings, TPictureRowSink& sink) {
    switch (FormatOf(file, fileName)) {
    case TPictureFormat::Png:
        DecodePngRows(file, fileName, settings, sink);
        return;
    case TPictureFormat::Tiff:
        DecodeTiffRows(file, fileName, settings, sink);
        return;
    case TPictureFormat::Jpeg:
        DecodeJpegRows(file, fileName, settings.Channel, sink);
        return;
    }
}

} // namespace

TPictureHeader ReadPictureHeader(const std::string& fileName, const TPictureSettings& settings) {
    const TInputFile file(fileName);
    switch (FormatOf(file, fileName)) {
    case TPictureFormat::Png:
        return ReadPngHeader(file, fileName, settings);
    case TPictureFormat::Tiff:
        return ReadTiffHeader(file, fileName, settings);
    case TPictureFormat::Jpeg:
        break;
    }
    return ReadJpegHeader(file, fileName);
}

bool LoadPlaneFromPicture(TPic& plane, const std::string& fileName,
                          const TPictureSettings& settings, TDeepPic* deep) {
    if (NoFileAt(fileName))
        return false;
    const TInputFile file(fileName);
    TPic decoded;
    TDeepPic decodedDeep;
    TPlaneRowSink sink(decoded, deep ? &decodedDeep : nullptr);
    DecodeFile(file, fileName, settings, sink);
    plane = std::move(decoded);
    if (deep)
        *deep = std::move(decodedDeep);
    return true;
}

bool LoadPlaneSizeFromPicture(TPic& plane, const std::string& fileName,
                              const TPictureSettings& settings) {
    // Takes the size and passes over every row it may.
    class TSizeSink final : public TPictureRowSink {
    public:
        void Begin(const TPictureLayout& layout) override {
            Plane.SetSize(layout.Width, layout.Height);
            row_.resize(std::size_t(layout.Width));
        }
        bool Needed(std::int32_t, std::int32_t) override { return false; }
        std::uint8_t* RowBuffer(std::int32_t) override { return row_.data(); }
        void RowDone(std::int32_t) override {}
        TPic Plane;

    private:
        std::vector<std::uint8_t> row_;
    } sink;
    if (!DecodePictureRows(fileName, settings, sink))
        return false;
    plane = std::move(sink.Plane);
    return true;
}

bool DecodePictureRows(const std::string& fileName, const TPictureSettings& settings,
                       TPictureRowSink& sink) {
    if (NoFileAt(fileName))
        return false;
    const TInputFile file(fileName);
    DecodeFile(file, fileName, settings, sink);
    return true;
}

TPictureSurvey SurveyPictures(const std::vector<std::string>& names,
                              const TPictureSettings& settings) {
    TPictureSurvey survey;
    survey.Headers.resize(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        try {
            survey.Headers[i] = ReadPictureHeader(names[i], settings);
            survey.DecoderBytes = std::max(survey.DecoderBytes, survey.Headers[i]->DecoderBytes);
        } catch (const EFileError&) {
        } catch (const EPictureError&) {
        }
    }
    return survey;
}

bool TPictureSurvey::Complete() const {
    return std::all_of(Headers.begin(), Headers.end(),
                       [](const std::optional<TPictureHeader>& h) { return h.has_value(); });
}

bool TPictureSurvey::OneSize() const {
    if (Headers.empty() || !Complete())
        return false;
    const TPictureHeader& first = *Headers.front();
    return first.Width > 0 && first.Height > 0 &&
           std::all_of(Headers.begin(), Headers.end(), [&](const std::optional<TPictureHeader>& h) {
               return h->Width == first.Width && h->Height == first.Height;
           });
}
