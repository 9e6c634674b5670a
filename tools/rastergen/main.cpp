// Writes a sample CUPS raster stream: every page a colour gradient, so that converted pages
// can be looked at and compared.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/rastergen/RasterStreamWriter.h"

namespace {

int usage(const char* program) {
    std::fprintf(
        stderr,
        "Usage: %s <output.raster> [pages=1] [dpi=300] [bits=8] [mode=plain|compressed|pwg]\n"
        "Writes US Letter RGB pages at the given resolution.\n",
        program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage(argv[0]);
    const unsigned pages = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
    const unsigned dpi = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 300;
    const unsigned bits = argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 8;
    const std::string mode = argc > 5 ? argv[5] : "plain";
    if (pages == 0 || dpi == 0 || dpi > 2400 || (bits != 8 && bits != 16))
        return usage(argv[0]);
    cups_mode_t rasterMode = CUPS_RASTER_WRITE;
    if (mode == "compressed") {
        rasterMode = CUPS_RASTER_WRITE_COMPRESSED;
    } else if (mode == "pwg") {
        rasterMode = CUPS_RASTER_WRITE_PWG;
    } else if (mode != "plain") {
        return usage(argv[0]);
    }

    const unsigned width = dpi * 17 / 2;  // 8.5 inches
    const unsigned height = dpi * 11;
    try {
        velmora::RasterStreamWriter raster(argv[1], rasterMode);
        for (unsigned page = 0; page < pages; ++page) {
            auto header =
                velmora::RasterStreamWriter::header(width, height, CUPS_CSPACE_SRGB, bits, dpi);
            raster.page(header, [&](unsigned y) {
                std::vector<uint8_t> line(header.cupsBytesPerLine);
                const unsigned bytesPerSample = bits / 8;
                for (unsigned x = 0; x < width; ++x) {
                    const uint8_t rgb[3] = {static_cast<uint8_t>(x * 255 / width),
                                            static_cast<uint8_t>(y * 255 / height),
                                            static_cast<uint8_t>(page * 60)};
                    for (unsigned c = 0; c < 3; ++c) {
                        std::memset(&line[(x * 3 + c) * bytesPerSample], rgb[c], bytesPerSample);
                    }
                }
                return line;
            });
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
        return 1;
    }
    std::printf("%s: %u page(s), %ux%u at %u dpi, %u bits per colour\n", argv[1], pages, width,
                height, dpi, bits);
    return 0;
}
