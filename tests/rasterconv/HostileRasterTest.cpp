#include <cstddef>

#include "tests/rasterconv/ConverterFixture.h"

namespace velmora::test {
namespace {

// Streams whose headers lie about their size. libcups checks little of a header, so the
// converter must bound everything itself and still end with 0 or 1.
class HostileRasterTest : public ConverterFixture {
  protected:
    // Writes one small uncompressed page, then overwrites header fields in the file.
    void writePatchedPage(const std::vector<std::pair<size_t, uint32_t>>& patches,
                          bool withPixelData = true) {
        {
            RasterStreamWriter raster(input(), CUPS_RASTER_WRITE);
            raster.page(
                RasterStreamWriter::header(4, 2), [](unsigned) { return solid(4, 1, 2, 3); },
                withPixelData ? ~0u : 0u);
        }
        std::string bytes = ScratchDirectory::readFile(input());
        ASSERT_GE(bytes.size(), 4 + sizeof(cups_page_header2_t));
        for (auto [offset, value] : patches) {
            std::memcpy(&bytes[4 + offset], &value, sizeof value);
        }
        ScratchDirectory::writeFile(input(), bytes);
    }
};

TEST_F(HostileRasterTest, LinesShorterThanTheirPixelsFailThePageAndStayInStep) {
    {
        RasterStreamWriter raster(input(), CUPS_RASTER_WRITE_COMPRESSED);
        auto lying = RasterStreamWriter::header(16, 3);
        lying.cupsBitsPerPixel = 8;
        lying.cupsBytesPerLine = 16;  // RGB needs 48
        raster.page(lying, [](unsigned) { return std::vector<uint8_t>(16, 0x55); });
        raster.page(RasterStreamWriter::header(2, 1), [](unsigned) { return solid(2, 7, 8, 9); });
    }
    EXPECT_EQ(convert(), 0);
    EXPECT_FALSE(pageExists(1));
    ASSERT_TRUE(pageExists(2));
    EXPECT_EQ(page(2).substr(54, 3), "\x09\x08\x07");
    EXPECT_TRUE(logged(LogLevel::Error,
                       "process_page: page 1 has 16 bytes per line, fewer than the 48 its pixels "
                       "need"));
}

TEST_F(HostileRasterTest, OversizedPagesFailWithoutAllocating) {
    const size_t width = offsetof(cups_page_header2_t, cupsWidth);
    const size_t height = offsetof(cups_page_header2_t, cupsHeight);
    const size_t bytesPerLine = offsetof(cups_page_header2_t, cupsBytesPerLine);
    const std::vector<std::vector<std::pair<size_t, uint32_t>>> cases = {
        {{width, 0xFFFFFF}, {height, 0xFFFFFF}, {bytesPerLine, 0xFFFFFF * 3}},
        {{width, 0x1000000}, {height, 1}, {bytesPerLine, 0x1000000 * 3}},
        {{width, 30000}, {height, 30000}, {bytesPerLine, 90000}},  // 2.7 GB of image
        {{width, 4}, {height, 2}, {bytesPerLine, 0x7FFFFFF8}},     // line buffer of 2 GB
        {{width, 0xFFFFFFFF}, {height, 0xFFFFFFFF}, {bytesPerLine, 0x7FFFFFFE}},
    };
    for (const auto& patches : cases) {
        log_->clear();
        writePatchedPage(patches);
        EXPECT_EQ(convert(), 1);
        EXPECT_FALSE(pageExists(1));
        bool toldWhy = false;
        for (const std::string& line : log_->messages(LogLevel::Error)) {
            toldWhy |= line.find("is too large to convert") != std::string::npos;
        }
        EXPECT_TRUE(toldWhy) << "width " << patches[0].second;
    }
}

TEST_F(HostileRasterTest, ZeroWidthIsInvalid) {
    writePatchedPage({{offsetof(cups_page_header2_t, cupsWidth), 0}});
    EXPECT_EQ(convert(), 1);
    EXPECT_TRUE(logged(LogLevel::Error, "Page 1 has invalid dimensions: 0x2"));
}

TEST_F(HostileRasterTest, TruncatedStreamsEndTheirPageWithAShortRead) {
    writePatchedPage({}, /*withPixelData=*/false);
    EXPECT_EQ(convert(), 1);
    EXPECT_TRUE(logged(LogLevel::Error,
                       "process_page: failed to read scanline 0 of page 1 (got 0 of 12 bytes)"));

    log_->clear();
    writePatchedPage({});
    std::string bytes = ScratchDirectory::readFile(input());
    ScratchDirectory::writeFile(input(), bytes.substr(0, bytes.size() - 5));
    EXPECT_EQ(convert(), 1);
    EXPECT_TRUE(logged(LogLevel::Error,
                       "process_page: failed to read scanline 1 of page 1 (got 0 of 12 bytes)"));
}

TEST_F(HostileRasterTest, TextThatIsNotRasterIsRefused) {
    for (const std::string& junk : {std::string(), std::string("%!PS-Adobe-3.0\n"),
                                    std::string("RaS"), std::string(5000, '\xff')}) {
        log_->clear();
        ScratchDirectory::writeFile(input(), junk);
        EXPECT_EQ(convert(), 1);
        const bool refused =
            logged(LogLevel::Error, "Failed to open CUPS raster stream from " + input()) ||
            logged(LogLevel::Error, "No pages found in input file " + input());
        EXPECT_TRUE(refused) << junk.size() << " bytes";
    }
}

}  // namespace
}  // namespace velmora::test
