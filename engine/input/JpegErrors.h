#pragma once
// libjpeg's error, warning and progress callbacks, for the JPEG input of
// engine/input: what stops a decoding, and how its message is kept. The callbacks
// jump back to the guarded libjpeg call (see TJpegDecoder) with the message kept,
// and the C++ side raises it.

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <jpeglib.h>

namespace jpeg_detail {

/// libjpeg's own working memory (the coefficient buffer of a progressive file).
inline constexpr long kMaxDecoderMemory = 1L << 30;

/// libjpeg reports errors through this manager's callbacks; they keep the message
/// and jump back to the guarded call.
struct TJpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    int readError;              // errno of a failed read of the file, 0 otherwise
    std::uint64_t decoderBytes; // the working memory the header calls for, once known
};

/// The progress monitor, with what it has counted of the scans so far.
struct TScanProgress {
    jpeg_progress_mgr pub;
    int scans;            // the scans counted in blocks
    std::uint64_t blocks; // coefficient blocks those scans cover
};

/// Keeps the message of the error (one of its own for a decoding that would take
/// more than kMaxDecoderMemory, or more memory than there is) and jumps back.
void OnErrorExit(j_common_ptr cinfo);

/// Warnings (level −1) mean damaged data that libjpeg would paper over with grey:
/// premature end of data, corrupt segments. A plane built from them would be
/// wrong, so they are errors here. Trace messages (level ≥ 0) are ignored.
void OnEmitMessage(j_common_ptr cinfo, int level);

/// Called before each row of blocks is taken in, so each scan is counted before
/// its data is decoded: a progressive file of more than 500 scans, or whose scans
/// cover too many blocks in all, is stopped there.
void OnProgress(j_common_ptr cinfo);

} // namespace jpeg_detail
