// A picture of up to kCheckedPixels pixels (or beyond the engine's limit, which
// every reading must refuse) is read seven times:
//
//  - ReadPictureHeader with Bits 0 and with Bits 12;
//  - LoadPlaneFromPicture for the grey mix with Bits 0, without and with a deep
//    plane, and for red with Bits 12 with a deep plane;
//  - LoadPlaneSizeFromPicture for the grey mix;
//  - DecodePictureRows for the grey mix into TCheckingSink, which needs only some
//    of the rows and checks the order of the calls it gets.
//
// The decodings must all succeed, or all raise the same exception with the same
// message, which names the file and gives a reason; a failed reading leaves the
// planes it was given as they were. Once a picture decodes, its header must read,
// within the limit, and give the plane's size; the plane with a deep plane must be
// the plane without; the deep values must give the plane values (exactly for one
// channel, within one step for the grey mix); a grey picture gives the same plane
// for red unless Bits 12 changed its largest value, which it does for 16-bit
// samples only; the size-only plane holds nothing but 0; the rows the sink needed
// are those of the plane.

#include "PictureChecks.h"

#include "base/Errors.h"
#include "FuzzSupport.h"
#include "base/Text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <typeinfo>
#include <vector>

namespace {

// How one reading of the photograph ended.
struct TOutcome {
    bool Read = false;
    const std::type_info* Raised = nullptr; // the exception's type, when one came out
    std::string Message;                    // and its message
};

std::string Described(const TOutcome& outcome) {
    if (outcome.Read)
        return "succeeds";
    return std::string("raises ") + outcome.Raised->name() + " \"" + outcome.Message + "\"";
}

// Runs read, which tells whether the file was found, and records how it ended.
template <class TRead> TOutcome Attempt(const std::string& file, const char* what, TRead read) {
    TOutcome outcome;
    try {
        if (!read())
            Finding(std::string(what) + " did not find the scratch photograph");
        outcome.Read = true;
        return outcome;
    } catch (const EPictureError& e) {
        outcome.Raised = &typeid(e);
        outcome.Message = e.what();
    } catch (const EFileError& e) {
        outcome.Raised = &typeid(e);
        outcome.Message = e.what();
    } catch (const std::exception& e) {
        Finding(std::string(what) + " raised " + typeid(e).name() + ": " + e.what());
    }
    // The message is shown to the operator as it stands.
    const std::string name = QuotedName(file);
    const std::size_t at = outcome.Message.find(name);
    if (at == std::string::npos ||
        outcome.Message.find_first_not_of(" :;.", at + name.size()) == std::string::npos)
        Finding(std::string(what) + " raised \"" + outcome.Message +
                "\", which does not name the file and a reason");
    return outcome;
}

// The decodings must end alike, whatever they keep.
void ExpectSame(const TOutcome& reference, const TOutcome& other, const char* what) {
    const bool sameType = reference.Raised == nullptr || other.Raised == nullptr
                              ? reference.Raised == other.Raised
                              : *reference.Raised == *other.Raised;
    if (reference.Read != other.Read || !sameType || reference.Message != other.Message)
        Finding("LoadPlaneFromPicture for the grey mix " + Described(reference) + ", but " + what +
                " " + Described(other));
}

// Planes a failed reading must leave as they were.
void Preset(TPic& plane) {
    plane.SetSize(3, 2);
    for (std::size_t i = 0; i < plane.Data.size(); ++i)
        plane.Data.data()[i] = std::uint8_t(0x30 + i);
}

void Preset(TDeepPic& deep) {
    deep.SetSize(2, 3);
    deep.SourceMax = 77;
    for (std::size_t i = 0; i < deep.Data.size(); ++i)
        deep.Data.data()[i] = std::uint16_t(0x1230 + i);
}

void ExpectPreset(const TPic& plane, const char* what) {
    bool same = plane.Width == 3 && plane.Height == 2 && plane.Data.size() == 6;
    for (std::size_t i = 0; same && i < plane.Data.size(); ++i)
        same = plane.Data.data()[i] == std::uint8_t(0x30 + i);
    if (!same)
        Finding(std::string(what) + " failed and changed the plane it was given");
}

void ExpectPreset(const TDeepPic& deep, const char* what) {
    bool same =
        deep.Width == 2 && deep.Height == 3 && deep.SourceMax == 77 && deep.Data.size() == 6;
    for (std::size_t i = 0; same && i < deep.Data.size(); ++i)
        same = deep.Data.data()[i] == std::uint16_t(0x1230 + i);
    if (!same)
        Finding(std::string(what) + " failed and changed the deep plane it was given");
}

void ExpectHeader(const TPictureHeader& header, const TDeclaredPicture& declared,
                  const char* what) {
    if (header.Format != declared.Format || header.Width <= 0 || header.Height <= 0 ||
        !IsPictureSize(header.Width, header.Height) ||
        std::uint64_t(header.Width) * std::uint64_t(header.Height) != declared.Pixels ||
        (header.Components != 1 && header.Components != 3) || header.Bits < 1 || header.Bits > 16 ||
        header.MaxValue == 0)
        Finding(std::string(what) + " gave a header of format " +
                std::to_string(int(header.Format)) + ", " + SizeText(header.Width, header.Height) +
                " pixels, " + std::to_string(header.Components) + " components, " +
                std::to_string(header.Bits) + " bits and the largest value " +
                std::to_string(header.MaxValue) + " for a file that announces " +
                std::to_string(declared.Pixels) + " pixels");
}

void ExpectPlane(const TPic& plane, const TPictureHeader& header, const char* what) {
    if (plane.Width <= 0 || plane.Height <= 0 || !IsPictureSize(plane.Width, plane.Height) ||
        plane.Data.size() != std::size_t(plane.Width) * std::size_t(plane.Height))
        Finding(std::string(what) + " gave a plane of " + SizeText(plane.Width, plane.Height) +
                " that holds " + std::to_string(plane.Data.size()) + " values");
    if (plane.Width != header.Width || plane.Height != header.Height)
        Finding(std::string(what) + " gave a plane of " + SizeText(plane.Width, plane.Height) +
                " for a header of " + SizeText(header.Width, header.Height));
}

bool SamePlanes(const TPic& a, const TPic& b) {
    return a.Width == b.Width && a.Height == b.Height && a.Data.size() == b.Data.size() &&
           std::memcmp(a.Data.data(), b.Data.data(), a.Data.size()) == 0;
}

// Whether a deep value d gives the plane value p: a sample's two values are
// rounded from the same fraction of its largest value, so that p is d / 257
// rounded, an exact half upward; the grey mix of 8-bit values is within one step
// of the mix of the deep ones.
bool Agree(std::uint8_t p, std::uint16_t d, bool mix) {
    if (!mix)
        return p == (2 * std::uint32_t(d) + 257) / 514;
    return std::abs(257 * int(p) - int(d)) <= 258;
}

void ExpectDeep(const TDeepPic& deep, const TPic& plane, std::uint32_t maxValue, bool mix,
                const char* what) {
    if (deep.Width != plane.Width || deep.Height != plane.Height ||
        deep.Data.size() != plane.Data.size())
        Finding(std::string(what) + " gave a deep plane of " + SizeText(deep.Width, deep.Height) +
                " that holds " + std::to_string(deep.Data.size()) + " values beside a plane of " +
                SizeText(plane.Width, plane.Height));
    if (deep.SourceMax != maxValue)
        Finding(std::string(what) + " gave a deep plane of the largest value " +
                std::to_string(deep.SourceMax) + " for a header that says " +
                std::to_string(maxValue));
    for (std::size_t i = 0; i < plane.Data.size(); ++i)
        if (!Agree(plane.Data.data()[i], deep.Data.data()[i], mix))
            Finding(std::string(what) + " gave the plane value " +
                    std::to_string(plane.Data.data()[i]) + " and the deep value " +
                    std::to_string(deep.Data.data()[i]) + " at row " +
                    std::to_string(i / std::size_t(plane.Width)) + ", column " +
                    std::to_string(i % std::size_t(plane.Width)));
}

// Takes DecodePictureRows' rows and checks its calls against TPictureRowSink: Begin
// first and once, with a size within the limit; each band of rows asked about once,
// from the top, before any of its rows is handed over; each row handed over once,
// in order, its buffers valid until RowDone. Bands that start on a row of the form
// 3k + 1 are not needed. The needed rows are compared with a plane and a deep plane
// decoded before, when there are such.
class TCheckingSink final : public TPictureRowSink {
public:
    TCheckingSink(const TPic* plane, const TDeepPic* deep) : plane_(plane), deep_(deep) {}

    void Begin(const TPictureLayout& layout) override {
        if (begun_)
            Finding("DecodePictureRows began a second time");
        begun_ = true;
        if (layout.Width <= 0 || layout.Height <= 0 ||
            !IsPictureSize(layout.Width, layout.Height) || layout.MaxValue == 0)
            Finding("DecodePictureRows began a picture of " +
                    SizeText(layout.Width, layout.Height) + " pixels and the largest value " +
                    std::to_string(layout.MaxValue));
        if (plane_ && (layout.Width != plane_->Width || layout.Height != plane_->Height ||
                       layout.MaxValue != deep_->SourceMax))
            Finding("DecodePictureRows began a picture of " +
                    SizeText(layout.Width, layout.Height) + " pixels and the largest value " +
                    std::to_string(layout.MaxValue) + ", LoadPlaneFromPicture gave " +
                    SizeText(plane_->Width, plane_->Height) + " and " +
                    std::to_string(deep_->SourceMax));
        layout_ = layout;
        needed_.assign(std::size_t(layout.Height), 0);
        row_.assign(std::size_t(layout.Width), kPoison);
        deepRow_.assign(std::size_t(layout.Width), kDeepPoison);
    }

    bool Needed(std::int32_t first, std::int32_t count) override {
        if (!begun_ || current_ >= 0 || first < asked_ || count < 1 ||
            count > layout_.Height - first)
            Finding("DecodePictureRows asked whether rows " + std::to_string(first) + " to " +
                    std::to_string(std::int64_t(first) + count - 1) + " are needed, rows 0 to " +
                    std::to_string(asked_ - 1) + " asked about before, of " +
                    std::to_string(layout_.Height));
        asked_ = first + count;
        const bool needed = first % 3 != 1;
        if (needed) {
            std::memset(needed_.data() + first, 1, std::size_t(count));
            neededRows_ += count;
        }
        return needed;
    }

    std::uint8_t* RowBuffer(std::int32_t row) override {
        Hand(row);
        return row_.data();
    }

    std::uint16_t* DeepRowBuffer(std::int32_t row) override {
        Hand(row);
        return deepRow_.data();
    }

    void RowDone(std::int32_t row) override {
        if (row < 0 || row != current_)
            Finding("DecodePictureRows finished row " + std::to_string(row) + " while row " +
                    std::to_string(current_) + " was handed over");
        if (needed_[std::size_t(row)]) {
            ++doneRows_;
            const std::size_t width = std::size_t(layout_.Width);
            if (plane_ && std::memcmp(row_.data(), plane_->Data[row], width) != 0)
                Finding("row " + std::to_string(row) +
                        " of DecodePictureRows differs from LoadPlaneFromPicture's");
            if (deep_ &&
                std::memcmp(deepRow_.data(), deep_->Data[row], width * sizeof(std::uint16_t)) != 0)
                Finding("the deep row " + std::to_string(row) +
                        " of DecodePictureRows differs from LoadPlaneFromPicture's");
        }
        std::fill(row_.begin(), row_.end(), kPoison);
        std::fill(deepRow_.begin(), deepRow_.end(), kDeepPoison);
        done_ = row;
        current_ = -1;
    }

    /// After DecodePictureRows succeeded: every row was asked about, and every
    /// needed one handed over.
    void ExpectFinished() const {
        if (!begun_ || asked_ != layout_.Height || doneRows_ != neededRows_)
            Finding("DecodePictureRows succeeded after asking about " + std::to_string(asked_) +
                    " of " + std::to_string(layout_.Height) + " rows and handing over " +
                    std::to_string(doneRows_) + " of the " + std::to_string(neededRows_) +
                    " needed");
    }

private:
    static constexpr std::uint8_t kPoison = 0xA5;
    static constexpr std::uint16_t kDeepPoison = 0xA5A5;

    void Hand(std::int32_t row) {
        const bool next = current_ < 0 && row > done_ && row < asked_;
        if (!begun_ || !(next || row == current_))
            Finding("DecodePictureRows handed over row " + std::to_string(row) + " after row " +
                    std::to_string(done_) + ", rows 0 to " + std::to_string(asked_ - 1) +
                    " asked about, row " + std::to_string(current_) + " being handed over");
        current_ = row;
    }

    const TPic* plane_;
    const TDeepPic* deep_;
    TPictureLayout layout_;
    bool begun_ = false;
    std::int32_t asked_ = 0;    // rows below this one were asked about
    std::int32_t current_ = -1; // the row being handed over
    std::int32_t done_ = -1;    // the last row finished
    std::int64_t neededRows_ = 0, doneRows_ = 0;
    std::vector<char> needed_; // per row
    std::vector<std::uint8_t> row_;
    std::vector<std::uint16_t> deepRow_;
};

} // namespace

int CheckPictureFile(const std::string& file, const TDeclaredPicture& declared) {
    const bool beyondLimit = declared.Pixels > std::uint64_t(kMaxPlanePixels);
    if (declared.Pixels > kDecodedPixels && !beyondLimit)
        return -1;

    const TPictureSettings grey{kChannelGrey, 0};
    const TPictureSettings red12{kChannelRed, 12};

    TPictureHeader header;
    const TOutcome headerRead = Attempt(file, "ReadPictureHeader", [&] {
        header = ReadPictureHeader(file, grey);
        return true;
    });
    if (headerRead.Read)
        ExpectHeader(header, declared, "ReadPictureHeader");

    TPic plain;
    Preset(plain);
    const TOutcome decoded = Attempt(file, "LoadPlaneFromPicture",
                                     [&] { return LoadPlaneFromPicture(plain, file, grey); });
    if (!decoded.Read) {
        ExpectPreset(plain, "LoadPlaneFromPicture");
    } else {
        if (!headerRead.Read)
            Finding("the photograph decodes, but ReadPictureHeader " + Described(headerRead));
        ExpectPlane(plain, header, "LoadPlaneFromPicture");
    }
    if (declared.Pixels > kCheckedPixels && !beyondLimit)
        return 0;

    TPic withDeep;
    TDeepPic deep;
    Preset(withDeep);
    Preset(deep);
    const TOutcome deepDecoded = Attempt(file, "LoadPlaneFromPicture with a deep plane", [&] {
        return LoadPlaneFromPicture(withDeep, file, grey, &deep);
    });
    ExpectSame(decoded, deepDecoded, "with a deep plane");
    if (deepDecoded.Read) {
        ExpectPlane(withDeep, header, "LoadPlaneFromPicture with a deep plane");
        if (!SamePlanes(plain, withDeep))
            Finding("LoadPlaneFromPicture gives another plane with a deep plane than without");
        ExpectDeep(deep, withDeep, header.MaxValue, header.Components == 3,
                   "LoadPlaneFromPicture for the grey mix");
    } else {
        ExpectPreset(withDeep, "LoadPlaneFromPicture with a deep plane");
        ExpectPreset(deep, "LoadPlaneFromPicture with a deep plane");
    }

    // Bits change the largest value of 16-bit samples only, and nothing else.
    TPictureHeader header12;
    const TOutcome header12Read = Attempt(file, "ReadPictureHeader with Bits 12", [&] {
        header12 = ReadPictureHeader(file, red12);
        return true;
    });
    if (headerRead.Read != header12Read.Read || headerRead.Message != header12Read.Message)
        Finding("ReadPictureHeader " + Described(headerRead) + " with Bits 0 and " +
                Described(header12Read) + " with Bits 12");
    if (headerRead.Read &&
        (header12.Width != header.Width || header12.Height != header.Height ||
         header12.Components != header.Components || header12.Bits != header.Bits ||
         header12.MaxValue != (header.Bits == 16 ? LargestSample(12) : header.MaxValue)))
        Finding("with Bits 12 the header of " + std::to_string(header.Bits) +
                "-bit samples and the largest value " + std::to_string(header.MaxValue) +
                " gives " + std::to_string(header12.Bits) + "-bit samples and " +
                std::to_string(header12.MaxValue));

    TPic red;
    TDeepPic redDeep;
    Preset(red);
    Preset(redDeep);
    const TOutcome redDecoded = Attempt(file, "LoadPlaneFromPicture for red", [&] {
        return LoadPlaneFromPicture(red, file, red12, &redDeep);
    });
    ExpectSame(decoded, redDecoded, "for red with Bits 12");
    if (redDecoded.Read) {
        ExpectPlane(red, header12, "LoadPlaneFromPicture for red");
        ExpectDeep(redDeep, red, header12.MaxValue, false, "LoadPlaneFromPicture for red");
        if (header.Components == 1 && header12.MaxValue == header.MaxValue &&
            !SamePlanes(plain, red))
            Finding("a grey picture gives another plane for red than for the grey mix");
    } else {
        ExpectPreset(red, "LoadPlaneFromPicture for red");
        ExpectPreset(redDeep, "LoadPlaneFromPicture for red");
    }

    TPic sized;
    Preset(sized);
    const TOutcome sizeRead = Attempt(file, "LoadPlaneSizeFromPicture",
                                      [&] { return LoadPlaneSizeFromPicture(sized, file, grey); });
    ExpectSame(decoded, sizeRead, "LoadPlaneSizeFromPicture");
    if (sizeRead.Read) {
        ExpectPlane(sized, header, "LoadPlaneSizeFromPicture");
        for (std::size_t i = 0; i < sized.Data.size(); ++i)
            if (sized.Data.data()[i] != 0)
                Finding("LoadPlaneSizeFromPicture gave a plane that holds " +
                        std::to_string(sized.Data.data()[i]));
    } else {
        ExpectPreset(sized, "LoadPlaneSizeFromPicture");
    }

    TCheckingSink sink(deepDecoded.Read ? &withDeep : nullptr, deepDecoded.Read ? &deep : nullptr);
    const TOutcome rowsRead =
        Attempt(file, "DecodePictureRows", [&] { return DecodePictureRows(file, grey, sink); });
    ExpectSame(decoded, rowsRead, "DecodePictureRows");
    if (rowsRead.Read)
        sink.ExpectFinished();

    if (beyondLimit && (headerRead.Read || decoded.Read))
        Finding("a picture of " + std::to_string(declared.Pixels) +
                " pixels, beyond the limit, was read");
    return 0;
}
