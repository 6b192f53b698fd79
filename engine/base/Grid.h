#pragma once
// A two-dimensional array of numbers, indexed [row][column], stored row after row.

#include "base/Memory.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>

/// Rows × Cols values, all 0 after Resize. The storage comes from AllocateZeroed,
/// whose fresh pages cost no memory until they are written: a large array that
/// stays mostly unwritten (the planes of a failed load) stays cheap, and a new
/// array needs no separate clearing pass.
template <class T> class TGrid {
    static_assert(std::is_trivial_v<T>, "a grid holds plain numbers");

public:
    /// Gives the array rows × cols values, all 0, whatever it held before. Raises
    /// std::invalid_argument for a negative size, and std::bad_alloc when the memory
    /// cannot be had; the array then stays as it was.
    void Resize(std::int32_t rows, std::int32_t cols) {
        if (rows < 0 || cols < 0)
            throw std::invalid_argument("an array of " + std::to_string(rows) + " x " +
                                        std::to_string(cols) + " values is not possible");
        const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
        if (count > SIZE_MAX / sizeof(T))
            throw std::bad_alloc();
        std::unique_ptr<T[], TFree> values(static_cast<T*>(AllocateZeroed(count * sizeof(T))),
                                           TFree{count * sizeof(T)});
        values_ = std::move(values);
        size_ = count;
        cols_ = static_cast<std::size_t>(cols);
    }

    /// Gives the array rows × cols values whose contents are left unspecified, for a
    /// caller that writes every one of them; keeps the storage when the number of
    /// values stays the same.
    void ResizeForOverwrite(std::int32_t rows, std::int32_t cols) {
        if (rows < 0 || cols < 0)
            Resize(rows, cols); // raises
        const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
        if (count != size_ || !values_)
            Resize(rows, cols);
        cols_ = static_cast<std::size_t>(cols);
    }

    T* operator[](std::int32_t row) { return values_.get() + std::size_t(row) * cols_; }
    const T* operator[](std::int32_t row) const { return values_.get() + std::size_t(row) * cols_; }
    T* data() { return values_.get(); }
    const T* data() const { return values_.get(); }
    /// Number of values, rows × cols.
    std::size_t size() const { return size_; }

private:
    struct TFree {
        std::size_t Bytes = 0;
        void operator()(T* p) const { FreeZeroed(p, Bytes); }
    };
    std::unique_ptr<T[], TFree> values_;
    std::size_t size_ = 0;
    std::size_t cols_ = 0;
};
