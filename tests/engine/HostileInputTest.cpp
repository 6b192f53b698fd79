// Inputs made to cost time or memory: photographs whose scans or coefficients
// would keep the decoder busy for minutes or take gigabytes, list files of
// millions of lines, names of devices and pipes. Each must be refused quickly
// and with its reason, at a cost bounded by the limits, not by the input's claims.

#include "TestSupport.h"
#include "base/Errors.h"
#include "image/Plane.h"
#include "input/JpegInput.h"
#include "input/Pics.h"
#include "input/PictureRows.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Progressive JPEG files written by hand: all coefficients 0, so that a scan's
// data is a handful of bytes however large the picture is.

// Entropy-coded data: bits from the most significant one on, a 0xFF byte followed
// by a stuffed 0x00, the last byte filled up with 1 bits.
class TBitWriter {
public:
    void Put(std::uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            byte_ = static_cast<std::uint8_t>((byte_ << 1) | ((value >> i) & 1));
            if (++used_ == 8)
                Emit();
        }
    }
    std::vector<std::uint8_t> Finish() {
        while (used_ != 0)
            Put(1, 1);
        return std::move(bytes_);
    }

private:
    void Emit() {
        bytes_.push_back(byte_);
        if (byte_ == 0xFF)
            bytes_.push_back(0x00);
        byte_ = 0;
        used_ = 0;
    }
    std::vector<std::uint8_t> bytes_;
    std::uint8_t byte_ = 0;
    int used_ = 0;
};

struct TScan {
    int Ss, Se, Ah, Al;
};

class TProgressiveJpeg {
public:
    // A greyscale (components 1) or colour (3, no subsampling) frame whose DC and
    // AC tables 0 each hold one code, "0": DC difference 0, and a run of 2^14 + n
    // blocks without coefficients followed by 14 bits of n.
    TProgressiveJpeg(int width, int height, int components) : components_(components) {
        bytes_ = {0xFF, 0xD8};
        std::vector<std::uint8_t> dqt = {0x00};
        dqt.insert(dqt.end(), 64, 1);
        Segment(0xDB, dqt);
        std::vector<std::uint8_t> sof = {8,
                                         std::uint8_t(height >> 8),
                                         std::uint8_t(height),
                                         std::uint8_t(width >> 8),
                                         std::uint8_t(width),
                                         std::uint8_t(components)};
        for (int c = 1; c <= components; ++c)
            sof.insert(sof.end(), {std::uint8_t(c), 0x11, 0x00});
        Segment(0xC2, sof);
        std::vector<std::uint8_t> dht = {0x00, 1};
        dht.insert(dht.end(), 15, 0);
        dht.push_back(0x00); // DC: category 0
        dht.push_back(0x10);
        dht.push_back(1);
        dht.insert(dht.end(), 15, 0);
        dht.push_back(0xE0); // AC: a run of blocks, 14 bits of its length follow
        Segment(0xC4, dht);
        blocksPerComponent_ = std::size_t((width + 7) / 8) * std::size_t((height + 7) / 8);
    }

    // The first DC scan, all components in it: one bit per block.
    void DcScan() {
        std::vector<std::uint8_t> sos = {std::uint8_t(components_)};
        for (int c = 1; c <= components_; ++c)
            sos.insert(sos.end(), {std::uint8_t(c), 0x00});
        sos.insert(sos.end(), {0, 0, 0x00});
        Segment(0xDA, sos);
        bytes_.insert(bytes_.end(), (blocksPerComponent_ * std::size_t(components_) + 7) / 8, 0);
    }

    // An AC scan of component 1 in which every block is empty.
    void AcScan(const TScan& scan) {
        Segment(0xDA, {1, 1, 0x00, std::uint8_t(scan.Ss), std::uint8_t(scan.Se),
                       std::uint8_t(scan.Ah << 4 | scan.Al)});
        TBitWriter bits;
        for (std::size_t covered = 0; covered < blocksPerComponent_; covered += 32767) {
            bits.Put(0, 1);
            bits.Put(0x3FFF, 14);
        }
        const std::vector<std::uint8_t> data = bits.Finish();
        bytes_.insert(bytes_.end(), data.begin(), data.end());
    }

    std::vector<std::uint8_t> Finish() {
        bytes_.insert(bytes_.end(), {0xFF, 0xD9});
        return bytes_;
    }

private:
    void Segment(std::uint8_t marker, const std::vector<std::uint8_t>& body) {
        const std::size_t length = body.size() + 2;
        bytes_.insert(bytes_.end(),
                      {0xFF, marker, std::uint8_t(length >> 8), std::uint8_t(length)});
        bytes_.insert(bytes_.end(), body.begin(), body.end());
    }

    int components_;
    std::size_t blocksPerComponent_ = 0;
    std::vector<std::uint8_t> bytes_;
};

// A progressive greyscale file with the DC scan and then acScans valid AC scans
// (at most 63 x 14): coefficient 1 first at the coarsest point transform, then
// refined bit by bit, then coefficient 2 likewise, and so on.
std::vector<std::uint8_t> ManyScanJpeg(int width, int height, int acScans) {
    std::vector<TScan> scans;
    for (int k = 1; k < 64; ++k) {
        scans.push_back({k, k, 0, 13});
        for (int al = 12; al >= 0; --al)
            scans.push_back({k, k, al + 1, al});
    }
    scans.resize(std::size_t(acScans));
    TProgressiveJpeg jpeg(width, height, 1);
    jpeg.DcScan();
    for (const TScan& scan : scans)
        jpeg.AcScan(scan);
    return jpeg.Finish();
}

std::string DecodeError(const std::vector<std::uint8_t>& bytes, TPic& plane) {
    try {
        DecodeJpegPlane(plane, bytes.data(), bytes.size(), "hostile.jpg", kChannelGrey);
    } catch (const EJpegError& e) {
        return e.what();
    }
    return "no error";
}

// ---------------------------------------------------------------------------

// Starts the count of this process's peak memory afresh; false where the system
// does not allow it.
bool ResetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

// The peak memory of this process in bytes, since ResetPeakMemory; -1 where the
// system does not say.
long long PeakMemory() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6)) * 1024;
    return -1;
}

std::string ListError(const std::string& list) {
    TPics pics;
    try {
        if (pics.LoadFromList(list, false, kChannelGrey))
            return "loaded";
        return pics.LastError();
    } catch (const std::exception& e) {
        return e.what();
    }
}

} // namespace

// A file of a few hundred scans over a picture of 4096 x 4096 pixels: a DC scan of
// 32 KB and 299 AC scans of 30 bytes each would make the decoder visit 78 million
// blocks. The same made with arithmetic coding over 16384 x 16384 pixels, 9 KB in
// all, took 70 s before the scan count stopped it at 500.
TEST(HostileJpeg, ScansAreCappedByTheBlocksTheyCoverNotOnlyByTheirNumber) {
    TPic plane;
    const std::vector<std::uint8_t> tooMany = ManyScanJpeg(4096, 4096, 299);
    EXPECT_LT(tooMany.size(), 48000u);
    const std::string message = DecodeError(tooMany, plane);
    EXPECT_NE(message.find("hostile.jpg"), std::string::npos) << message;
    EXPECT_NE(message.find("blocks"), std::string::npos) << message;
    EXPECT_EQ(plane.Width, 0) << "the plane is left as it was";

    // 249 AC scans stay within the bound: the file decodes, to the grey of
    // coefficients that are all 0.
    const std::vector<std::uint8_t> enough = ManyScanJpeg(4096, 4096, 249);
    ASSERT_EQ(DecodeError(enough, plane), "no error");
    ASSERT_EQ(plane.Width, 4096);
    ASSERT_EQ(plane.Height, 4096);
    EXPECT_EQ(plane.Data[0][0], 128);
    EXPECT_EQ(plane.Data[4095][4095], 128);
}

TEST(HostileJpeg, MoreThanFiveHundredScansAreRefusedOnASmallPicture) {
    TPic plane;
    const std::string message = DecodeError(ManyScanJpeg(64, 64, 300), plane);
    EXPECT_EQ(message, "no error") << "300 scans over 64 blocks are cheap";
    EXPECT_NE(DecodeError(ManyScanJpeg(64, 64, 300 + 250), plane).find("more than 500 scans"),
              std::string::npos);
}

// 16384 x 16384 colour pixels without subsampling: a valid file of 1.5 MB whose
// coefficients take 1.5 GiB. It is refused before they are allocated, with a
// reason an operator can read.
TEST(HostileJpeg, CoefficientsBeyondTheDecoderMemoryAreRefusedBeforeTheyAreAllocated) {
    TProgressiveJpeg jpeg(16384, 16384, 3);
    jpeg.DcScan();
    const std::vector<std::uint8_t> bytes = jpeg.Finish();
    const bool peakKnown = ResetPeakMemory();
    const long long before = PeakMemory();
    TPic plane;
    const std::string message = DecodeError(bytes, plane);
    EXPECT_NE(message.find("working memory"), std::string::npos) << message;
    if (peakKnown && before > 0) {
        EXPECT_LT(PeakMemory() - before, 256LL << 20);
    }
}

// 32 MiB of line breaks: 33 million empty lines. They are counted and refused
// without being split into strings, which took 2 GB for 64 MiB.
TEST(HostileList, MillionsOfEmptyLinesAreRefusedWithoutBuildingThem) {
    TTempDir dir;
    const std::string list = dir / "list.txt";
    {
        std::ofstream out(list, std::ios::binary);
        const std::string lines(std::size_t(1) << 20, '\n');
        for (int i = 0; i < 32; ++i)
            out << lines;
    }
    const bool peakKnown = ResetPeakMemory();
    const long long before = PeakMemory();
    const std::string message = ListError(list);
    EXPECT_NE(message.find("has 33554432 lines"), std::string::npos) << message;
    if (!peakKnown || before < 0)
        GTEST_SKIP() << "the peak memory of a process cannot be reset here";
    EXPECT_LT(PeakMemory() - before, 256LL << 20);
}

// Names that are no photographs: each is refused at once, without waiting for a
// pipe's writer or reading a device.
TEST(HostileList, PipesDevicesAndSystemFilesAreRefusedWithoutWaiting) {
    TTempDir dir;
    const std::string pipe = dir / "pipe.jpg";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const struct {
        std::string name;
        const char* reason;
    } cases[] = {
        {pipe, "not a regular file"},
        {"/dev/zero", "not a regular file"},
        {"/dev/null", "not a regular file"},
        {"/proc/self/status", "Not a JPEG file"},
    };
    for (const auto& c : cases) {
        WriteFileText(dir / "list.txt", "title\r\n\r\n" + c.name + "\r\n");
        const std::string message = ListError(dir / "list.txt");
        EXPECT_NE(message.find(c.name), std::string::npos) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << c.name << ": " << message;
    }
}
