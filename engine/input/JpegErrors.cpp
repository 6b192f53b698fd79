// libjpeg's error, warning and progress callbacks: every error and warning ends
// the decoding with its message, and so does a progressive file whose scans would
// keep the decoder busy far too long.

#include "input/JpegErrors.h"

#include "base/Limits.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <jpeglib.h>
// jerror.h needs jpeglib.h before it.
#include <jerror.h>

namespace {

// A progressive file with more scans than this is treated as hostile: each scan
// costs a pass over the coefficient blocks of the components it holds.
constexpr int kMaxScans = 500;
// Nor may its scans visit more coefficient blocks than this in all: 16 passes over
// the blocks of the largest greyscale plane, about three times what a standard
// progressive file of that size takes. Scans are cheap to write (a few bytes of
// arithmetic-coded data cover a whole picture), so a small file could otherwise
// keep the decoder busy for minutes before the scan count stopped it.
constexpr std::uint64_t kMaxScanBlocks = std::uint64_t(kMaxPlanePixels / 64) * 16;

} // namespace

namespace jpeg_detail {

void OnErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<TJpegErrorManager*>(cinfo->err);
    // libjpeg turns to disk space ("backing store", which it does not have) when
    // a progressive file's coefficients do not fit into kMaxDecoderMemory.
    if (cinfo->err->msg_code == JERR_NO_BACKING_STORE)
        std::snprintf(err->message, sizeof err->message,
                      "decoding it takes more than the %ld MiB of working memory a photograph "
                      "may use",
                      kMaxDecoderMemory >> 20);
    else if (cinfo->err->msg_code == JERR_OUT_OF_MEMORY)
        std::snprintf(err->message, sizeof err->message,
                      "there is not enough memory for the decoder's working memory (about %llu "
                      "MiB)",
                      static_cast<unsigned long long>((err->decoderBytes >> 20) + 1));
    else
        (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void OnEmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0)
        OnErrorExit(cinfo);
}

void OnProgress(j_common_ptr cinfo) {
    auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    auto* progress = reinterpret_cast<TScanProgress*>(cinfo->progress);
    if (dinfo->input_scan_number == progress->scans)
        return;
    std::uint64_t blocksInScan = 0;
    for (int i = 0; i < dinfo->comps_in_scan; ++i) {
        const jpeg_component_info* component = dinfo->cur_comp_info[i];
        blocksInScan += std::uint64_t(component->width_in_blocks) * component->height_in_blocks;
    }
    progress->blocks += std::uint64_t(dinfo->input_scan_number - progress->scans) * blocksInScan;
    progress->scans = dinfo->input_scan_number;

    auto* err = reinterpret_cast<TJpegErrorManager*>(cinfo->err);
    if (dinfo->input_scan_number > kMaxScans)
        std::snprintf(err->message, sizeof err->message,
                      "the progressive file has more than %d scans", kMaxScans);
    else if (progress->blocks > kMaxScanBlocks)
        std::snprintf(err->message, sizeof err->message,
                      "the scans of the progressive file cover more than %llu blocks of 8 x 8 "
                      "values in all",
                      static_cast<unsigned long long>(kMaxScanBlocks));
    else
        return;
    std::longjmp(err->jump, 1);
}

} // namespace jpeg_detail
