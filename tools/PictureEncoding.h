#pragma once
// What the PNG and TIFF writers share: the errors that name what is written, the
// checks of a picture's shape and values, the rows made band by band, the packing of
// samples as files store them, and where the encoded bytes go.

#include "RawPicture.h"
#include "files/AtomicFile.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace picture_detail {

/// Whole pictures are handed to the encoders in bands of this many rows.
inline constexpr int kWholeBandRows = 64;

/// Who an error message is about: the file being written, or the bytes being encoded.
class TTarget {
public:
    TTarget(const char* format, const std::string* fileName)
        : format_(format), fileName_(fileName) {}

    std::string Text(const std::string& reason) const;
    /// The picture or the options do not fit together.
    [[noreturn]] void Refuse(const std::string& reason) const {
        throw std::invalid_argument(Text(reason));
    }
    /// The library failed.
    [[noreturn]] void Fail(const std::string& reason) const {
        throw std::runtime_error(Text(reason));
    }
    /// The name libtiff gives the file in its messages.
    const char* Name() const { return fileName_ ? fileName_->c_str() : format_; }

private:
    const char* format_;
    const std::string* fileName_;
};

/// Width × Height × Samples.
std::uint64_t ValueCount(const TPictureShape& shape);

/// Refuses a picture without pixels, or with more samples a pixel or bits a sample
/// than the format takes.
void CheckShape(const TTarget& target, const TPictureShape& shape, int maxSamples, int maxBits);

/// Refuses a picture whose values are not ValueCount().
void CheckValueCount(const TTarget& target, const TRawPicture& picture);

/// A source that copies the rows of the picture, which must outlive it.
TSampleRowSource CopyRows(const TRawPicture& picture);

/// The rows of a picture, made band by band by its source and checked against its depth.
class TSampleBands {
public:
    TSampleBands(const TTarget& target, const TPictureShape& shape, const TSampleRowSource& source,
                 int bandRows);

    int BandRows() const { return bandRows_; }
    std::size_t RowValues() const { return rowValues_; }

    /// Makes rows first … first + count − 1 (count ≤ BandRows()); gives their values.
    const std::uint32_t* Make(int first, int count);

    /// The values of row, making the band from it on when the current one does not hold it.
    const std::uint32_t* Row(int row);

private:
    const TTarget& target_;
    const TPictureShape& shape_;
    const TSampleRowSource& source_;
    std::size_t rowValues_;
    int bandRows_;
    std::vector<std::uint32_t> values_;
    int first_ = 0;
    int count_ = 0;
};

/// Packs count samples, taken every step values from in, into out as files store
/// them: depths that are not whole bytes from the high bit down, whole bytes with
/// the most significant first when bigEndian, else the least significant.
void PackSamples(const std::uint32_t* in, std::size_t count, std::size_t step, int bits,
                 bool bigEndian, std::uint8_t* out);

/// The bytes that samples of bits bits take packed.
std::size_t PackedBytes(std::uint64_t samples, int bits);

/// Where encoded bytes go: a buffer in memory, or a file written whole.
class TByteOutput {
public:
    explicit TByteOutput(std::vector<std::uint8_t>& bytes) : bytes_(&bytes), size_(bytes.size()) {}
    explicit TByteOutput(TAtomicFile& file) : file_(&file) {}

    std::uint64_t Size() const { return size_; }

    /// Writes over or beyond what is there; a gap before offset is filled with zeros.
    void WriteAt(std::uint64_t offset, const void* data, std::size_t size);

    void Append(const void* data, std::size_t size) { WriteAt(size_, data, size); }

    /// Reads back what was written; false beyond the end, and always for a file.
    bool ReadAt(std::uint64_t offset, void* data, std::size_t size) const;

private:
    std::vector<std::uint8_t>* bytes_ = nullptr;
    TAtomicFile* file_ = nullptr;
    std::uint64_t size_ = 0;
};

} // namespace picture_detail
