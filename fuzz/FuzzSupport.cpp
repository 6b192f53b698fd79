#include "FuzzSupport.h"

#include "output/JpegWriter.h"
#include "input/PictureRows.h"
#include "PngWriter.h"
#include "SampleLayout.h"
#include "SampleRender.h"
#include "TiffWriter.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class TScratch {
public:
    TScratch() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = tmp != nullptr && *tmp != '\0'    ? tmp
                              : ::access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                                : "/tmp";
        pattern += "/kelvaron-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            Finding("cannot make a scratch folder from " + pattern);
        path_ = pattern;
    }
    ~TScratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace

const std::string& ScratchFolder() {
    static const TScratch scratch;
    return scratch.path();
}

void WriteScratchFile(const std::string& path, const void* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        Finding("cannot create the scratch file " + path);
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n <= 0)
            Finding("cannot write the scratch file " + path);
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    ::close(fd);
}

void Finding(const std::string& message) {
    std::fprintf(stderr, "FINDING: %s\n", message.c_str());
    std::abort();
}

std::vector<std::uint8_t> SamplePixels(int width, int height, int components, int picture) {
    TSampleOptions options;
    options.Width = width;
    options.Height = height;
    options.Spacing = 8;
    options.Greyscale = components == 1;
    options.Threads = 1;
    options.Seed = static_cast<std::uint32_t>(picture + 1);
    return RenderSamplePicture(options, LayoutSampleDots(options), picture);
}

TRawPicture SamplePicture(int width, int height, int colourSamples, int extraSamples, int bits,
                          int picture) {
    const int components = colourSamples == 1 ? 1 : 3;
    const std::vector<std::uint8_t> pixels = SamplePixels(width, height, components, picture % 17);
    TRawPicture raw;
    raw.Width = width;
    raw.Height = height;
    raw.Samples = colourSamples + extraSamples;
    raw.Bits = bits;
    const std::uint32_t largest = LargestSample(bits);
    const std::size_t count = std::size_t(width) * std::size_t(height);
    raw.Values.reserve(count * std::size_t(raw.Samples));
    for (std::size_t p = 0; p < count; ++p) {
        for (int c = 0; c < colourSamples; ++c) {
            const std::uint32_t v =
                pixels[p * components + std::size_t(std::min(c, components - 1))];
            raw.Values.push_back((v * largest + 127) / 255);
        }
        for (int c = 0; c < extraSamples; ++c)
            raw.Values.push_back(std::uint32_t(p * 37 + std::size_t(c) * 101) % (largest + 1));
    }
    return raw;
}

// ---------------------------------------------------------------------------

std::vector<std::string> ListFolderNames() {
    using namespace NListFolder;
    return {kColour,    kColour444, kGrey,  kProgressive, kDamaged, kCmyk, kDeepPng, kTiff,
            kFloatTiff, kText,      kEmpty, kFolder,      kPipe,    kZero, kLoop};
}

void FillListFolder(const std::string& folder) {
    using namespace NListFolder;
    auto at = [&](const char* name) { return folder + "/" + name; };
    auto write = [&](const char* name, const std::vector<std::uint8_t>& bytes) {
        WriteScratchFile(at(name), bytes.data(), bytes.size());
    };

    const std::vector<std::uint8_t> colour = SamplePixels(48, 32, 3, 2);
    write(kColour, EncodeJpeg(48, 32, 3, colour.data()));
    const std::vector<std::uint8_t> other = SamplePixels(40, 24, 3, 5);
    write(kColour444, EncodeJpeg(40, 24, 3, other.data(), {80, false, TJpegChroma::Chroma444}));
    const std::vector<std::uint8_t> grey = SamplePixels(48, 32, 1, 3);
    write(kGrey, EncodeJpeg(48, 32, 1, grey.data()));
    write(kProgressive, EncodeJpeg(48, 32, 3, colour.data(), {90, true, TJpegChroma::Chroma420}));

    std::vector<std::uint8_t> damaged = EncodeJpeg(48, 32, 3, colour.data());
    damaged[damaged.size() / 2] ^= 0x5A;
    damaged.resize(damaged.size() * 3 / 4);
    write(kDamaged, damaged);

    std::vector<std::uint8_t> cmyk(std::size_t(16) * 16 * 4);
    for (std::size_t i = 0; i < cmyk.size(); ++i)
        cmyk[i] = static_cast<std::uint8_t>(i * 7);
    write(kCmyk, EncodeJpeg(16, 16, 4, cmyk.data()));

    write(kDeepPng, EncodePng(SamplePicture(48, 32, 1, 0, 16, 3)));
    TTiffWriteOptions tiff;
    tiff.Photometric = TTiffPhotometric::Rgb;
    tiff.Compression = TTiffCompression::Lzw;
    tiff.BigEndian = true;
    write(kTiff, EncodeTiff({SamplePicture(48, 32, 3, 0, 8, 2)}, tiff));
    TRawPicture floats = SamplePicture(16, 16, 1, 0, 16, 1);
    floats.Bits = 32;
    for (std::uint32_t& v : floats.Values)
        v = std::bit_cast<std::uint32_t>(float(v) / 65535);
    tiff = {};
    tiff.SampleFormat = TTiffSampleFormat::Float;
    write(kFloatTiff, EncodeTiff({floats}, tiff));

    WriteScratchFile(at(kText), std::string_view("not a photograph\n"));
    WriteScratchFile(at(kEmpty), std::string_view());
    ::mkdir(at(kFolder).c_str(), 0755);
    ::mkfifo(at(kPipe).c_str(), 0644);
    ::symlink("/dev/zero", at(kZero).c_str());
    ::symlink(kLoop, at(kLoop).c_str());
}

// ---------------------------------------------------------------------------

std::string PicSetFileName(std::size_t index) {
    return std::to_string(index) + "_f.bin";
}

std::vector<std::string_view> SplitSections(std::string_view input) {
    std::vector<std::string_view> sections;
    for (;;) {
        const std::size_t at = input.find(kSectionMarker);
        sections.push_back(input.substr(0, at));
        if (at == std::string_view::npos)
            return sections;
        input.remove_prefix(at + kSectionMarker.size());
    }
}
