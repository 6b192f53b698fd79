// What the PNG and TIFF writers share: error texts, shape checks, rows in bands,
// sample packing and the byte output.

#include "PictureEncoding.h"

#include "base/Text.h"
#include "input/PictureRows.h"

#include <algorithm>

namespace picture_detail {

std::string TTarget::Text(const std::string& reason) const {
    if (fileName_)
        return "Cannot write " + QuotedName(*fileName_) + ": " + reason;
    return std::string(format_) + " encoding failed: " + reason;
}

std::uint64_t ValueCount(const TPictureShape& shape) {
    return std::uint64_t(shape.Width) * std::uint64_t(shape.Height) * std::uint64_t(shape.Samples);
}

void CheckShape(const TTarget& target, const TPictureShape& shape, int maxSamples, int maxBits) {
    if (shape.Width <= 0 || shape.Height <= 0)
        target.Refuse("the picture has no pixels (" + SizeText(shape.Width, shape.Height) + ")");
    if (shape.Samples < 1 || shape.Samples > maxSamples)
        target.Refuse(std::to_string(shape.Samples) + " samples a pixel; 1 to " +
                      std::to_string(maxSamples) + " can be written");
    if (shape.Bits < 1 || shape.Bits > maxBits)
        target.Refuse(std::to_string(shape.Bits) + " bits a sample; 1 to " +
                      std::to_string(maxBits) + " can be written");
}

void CheckValueCount(const TTarget& target, const TRawPicture& picture) {
    if (picture.Values.size() != ValueCount(picture))
        target.Refuse("the picture holds " + CountText(picture.Values.size(), "value") + "; " +
                      SizeText(picture.Width, picture.Height) + " pixels of " +
                      CountText(std::uint64_t(picture.Samples), "sample") + " need " +
                      std::to_string(ValueCount(picture)));
}

TSampleRowSource CopyRows(const TRawPicture& picture) {
    const std::size_t rowValues = std::size_t(picture.Width) * std::size_t(picture.Samples);
    return [&picture, rowValues](int first, int count, std::uint32_t* samples) {
        std::copy_n(picture.Values.data() + std::size_t(first) * rowValues,
                    std::size_t(count) * rowValues, samples);
    };
}

TSampleBands::TSampleBands(const TTarget& target, const TPictureShape& shape,
                           const TSampleRowSource& source, int bandRows)
    : target_(target), shape_(shape), source_(source),
      rowValues_(std::size_t(shape.Width) * std::size_t(shape.Samples)),
      bandRows_(std::clamp(bandRows, 1, shape.Height)),
      values_(rowValues_ * std::size_t(bandRows_)) {}

const std::uint32_t* TSampleBands::Make(int first, int count) {
    count_ = 0; // a source that raises leaves no band
    source_(first, count, values_.data());
    const std::uint32_t top = LargestSample(shape_.Bits);
    const std::size_t n = std::size_t(count) * rowValues_;
    for (std::size_t i = 0; i < n; ++i)
        if (values_[i] > top)
            target_.Refuse("row " + std::to_string(std::size_t(first) + i / rowValues_) +
                           " holds the value " + std::to_string(values_[i]) + ", more than " +
                           std::to_string(shape_.Bits) + " bits hold");
    first_ = first;
    count_ = count;
    return values_.data();
}

const std::uint32_t* TSampleBands::Row(int row) {
    if (row < first_ || row >= first_ + count_)
        Make(row, std::min(bandRows_, shape_.Height - row));
    return values_.data() + std::size_t(row - first_) * rowValues_;
}

void PackSamples(const std::uint32_t* in, std::size_t count, std::size_t step, int bits,
                 bool bigEndian, std::uint8_t* out) {
    if (bits % 8 == 0) {
        const int bytes = bits / 8;
        for (std::size_t i = 0; i < count; ++i, out += bytes) {
            const std::uint32_t v = in[i * step];
            for (int b = 0; b < bytes; ++b)
                out[b] = static_cast<std::uint8_t>(v >> (8 * (bigEndian ? bytes - 1 - b : b)));
        }
        return;
    }
    std::uint64_t pending = 0; // bits not yet written, the oldest highest
    int held = 0;
    for (std::size_t i = 0; i < count; ++i) {
        pending = (pending << bits) | in[i * step];
        held += bits;
        while (held >= 8) {
            held -= 8;
            *out++ = static_cast<std::uint8_t>(pending >> held);
        }
        pending &= (std::uint64_t(1) << held) - 1;
    }
    if (held > 0)
        *out = static_cast<std::uint8_t>(pending << (8 - held));
}

std::size_t PackedBytes(std::uint64_t samples, int bits) {
    return static_cast<std::size_t>((samples * std::uint64_t(bits) + 7) / 8);
}

void TByteOutput::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (bytes_) {
        if (offset + size > bytes_->size())
            bytes_->resize(static_cast<std::size_t>(offset + size));
        std::copy_n(bytes, size, bytes_->data() + offset);
    } else {
        static const std::uint8_t zeros[64] = {};
        for (std::uint64_t gap = offset > size_ ? offset - size_ : 0; gap > 0;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(gap, sizeof zeros));
            file_->Write(zeros, n);
            gap -= n;
            size_ += n;
        }
        const auto inside = static_cast<std::size_t>(
            offset < size_ ? std::min<std::uint64_t>(size, size_ - offset) : 0);
        if (inside > 0)
            file_->WriteAt(offset, bytes, inside);
        if (size > inside)
            file_->Write(bytes + inside, size - inside);
    }
    size_ = std::max(size_, offset + size);
}

bool TByteOutput::ReadAt(std::uint64_t offset, void* data, std::size_t size) const {
    if (!bytes_ || offset > size_ || size > size_ - offset)
        return false;
    std::copy_n(bytes_->data() + offset, size, static_cast<std::uint8_t*>(data));
    return true;
}

} // namespace picture_detail
