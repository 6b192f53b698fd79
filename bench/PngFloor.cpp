// kelvaron-png-floor FILE...: the decode floor of a list of PNG photographs. Each
// file is decoded by libpng on its own, one after the other on one thread, with
// libpng's defaults (every checksum checked, no transformation), row by row into
// one row buffer, and dropped. bench/run.sh times evaluations of PNG stacks against
// this, as it times JPEG stacks against djpeg.
//
// Exit status: 0 every file decoded, 1 one could not be (its name and libpng's
// reason on stderr), 2 no file given.

#include <csetjmp>
#include <cstdio>
#include <png.h>
#include <vector>

namespace {

// The libpng calls, each in a frame without C++ objects that libpng's error jump
// would skip. The number of bytes of a row, or 0 when libpng stops.
std::size_t ReadHeader(png_structp png, png_infop info, std::FILE* file, int& passes) {
    if (setjmp(png_jmpbuf(png)))
        return 0;
    png_init_io(png, file);
    png_read_info(png, info);
    passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info);
}

bool ReadRows(png_structp png, png_infop info, int passes, png_bytep row) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    const png_uint_32 height = png_get_image_height(png, info);
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 r = 0; r < height; ++r)
            png_read_row(png, row, nullptr);
    png_read_end(png, nullptr);
    return true;
}

// Decodes one file; false, with the reason printed, when libpng stops.
bool Decode(const char* fileName) {
    std::FILE* file = std::fopen(fileName, "rb");
    if (!file) {
        std::perror(fileName);
        return false;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    int passes = 1;
    const std::size_t rowBytes = info ? ReadHeader(png, info, file, passes) : 0;
    std::vector<png_byte> row(rowBytes);
    const bool ok = rowBytes > 0 && ReadRows(png, info, passes, row.data());
    if (!ok)
        std::fprintf(stderr, "kelvaron-png-floor: %s does not decode\n", fileName);
    png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
    std::fclose(file);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kelvaron-png-floor FILE...\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i)
        if (!Decode(argv[i]))
            return 1;
    return 0;
}
