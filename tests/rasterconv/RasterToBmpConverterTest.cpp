#include "tests/rasterconv/ConverterFixture.h"

namespace velmora::test {
namespace {

class RasterToBmpConverterTest : public ConverterFixture,
                                 public ::testing::WithParamInterface<cups_mode_t> {};

// Every line differs and every pixel differs, so a swapped row, a wrong channel order or a
// shifted pixel shows up.
std::vector<uint8_t> gradientLine(unsigned width, unsigned y) {
    std::vector<uint8_t> line;
    for (unsigned x = 0; x < width; ++x) {
        line.insert(line.end(), {static_cast<uint8_t>(x), static_cast<uint8_t>(y),
                                 static_cast<uint8_t>(x * 7 + y * 13)});
    }
    return line;
}

void expectGradientBmp(const std::string& bmp, unsigned width, unsigned height) {
    const size_t rowSize = (width * 3 + 3) & ~3u;
    ASSERT_EQ(bmp.size(), 54 + rowSize * height);
    for (unsigned k = 0; k < height; ++k) {
        const unsigned y = height - 1 - k;
        const std::vector<uint8_t> rgb = gradientLine(width, y);
        for (unsigned x = 0; x < width; ++x) {
            const size_t at = 54 + k * rowSize + x * 3;
            ASSERT_EQ(static_cast<uint8_t>(bmp[at]), rgb[x * 3 + 2]) << "row " << k << " x " << x;
            ASSERT_EQ(static_cast<uint8_t>(bmp[at + 1]), rgb[x * 3 + 1]);
            ASSERT_EQ(static_cast<uint8_t>(bmp[at + 2]), rgb[x * 3]);
        }
        for (size_t pad = width * 3; pad < rowSize; ++pad) {
            ASSERT_EQ(bmp[54 + k * rowSize + pad], '\0') << "padding of row " << k;
        }
    }
}

TEST_P(RasterToBmpConverterTest, WritesBottomUpBgrRowsWithPaddingAndHeaders) {
    {
        RasterStreamWriter raster(input(), GetParam());
        raster.page(RasterStreamWriter::header(1001, 7),
                    [](unsigned y) { return gradientLine(1001, y); });
        raster.page(RasterStreamWriter::header(1000, 5, CUPS_CSPACE_SRGB, 8, 72),
                    [](unsigned y) { return gradientLine(1000, y); });
    }
    ASSERT_EQ(convert(), 0);

    const std::string first = page(1);
    ASSERT_GE(first.size(), 54u);
    EXPECT_EQ(first.substr(0, 2), "BM");
    EXPECT_EQ(le32(first, 2), 54u + 3004 * 7);
    EXPECT_EQ(le32(first, 6), 0u);
    EXPECT_EQ(le32(first, 10), 54u);
    EXPECT_EQ(le32(first, 14), 40u);
    EXPECT_EQ(le32(first, 18), 1001u);
    EXPECT_EQ(le32(first, 22), 7u);
    EXPECT_EQ(le16(first, 26), 1);
    EXPECT_EQ(le16(first, 28), 24);
    EXPECT_EQ(le32(first, 30), 0u);
    EXPECT_EQ(le32(first, 34), 3004u * 7);
    EXPECT_EQ(le32(first, 38), 11811u);
    EXPECT_EQ(le32(first, 42), 11811u);
    EXPECT_EQ(le32(first, 46), 0u);
    EXPECT_EQ(le32(first, 50), 0u);
    expectGradientBmp(first, 1001, 7);

    const std::string second = page(2);
    EXPECT_EQ(le32(second, 34), 3000u * 5);
    EXPECT_EQ(le32(second, 38), 2834u);
    expectGradientBmp(second, 1000, 5);

    EXPECT_TRUE(
        logged(LogLevel::Info, "Conversion complete: 2 page(s) total, 2 converted, 0 failed"));
    EXPECT_TRUE(logged(LogLevel::Info, "Processing page 2: 1000x5, colorspace=sRGB"));
    EXPECT_TRUE(logged(LogLevel::Info, "Writing page 1 to " + output() + "/0001.bmp"));
    EXPECT_TRUE(logged(LogLevel::Debug, "write_bmp: resolution 72 x 72 DPI -> 2834 x 2834 ppm"));
}

TEST_P(RasterToBmpConverterTest, SixteenBitSamplesKeepTheirHighByte) {
    {
        RasterStreamWriter raster(input(), GetParam());
        raster.page(RasterStreamWriter::header(3, 2, CUPS_CSPACE_RGB, 16), [](unsigned) {
            std::vector<uint8_t> line;
            const uint16_t samples[] = {0x1234, 0x5678, 0x9ABC};
            for (int pixel = 0; pixel < 3; ++pixel) {
                for (uint16_t sample : samples) {
                    uint8_t bytes[2];
                    std::memcpy(bytes, &sample, 2);  // host order, as libcups hands them out
                    line.insert(line.end(), bytes, bytes + 2);
                }
            }
            return line;
        });
    }
    ASSERT_EQ(convert(), 0);
    const std::string bmp = page(1);
    ASSERT_EQ(bmp.size(), 54u + 12 * 2);
    for (size_t row = 0; row < 2; ++row) {
        for (size_t x = 0; x < 3; ++x) {
            const size_t at = 54 + row * 12 + x * 3;
            EXPECT_EQ(static_cast<uint8_t>(bmp[at]), 0x9A);
            EXPECT_EQ(static_cast<uint8_t>(bmp[at + 1]), 0x56);
            EXPECT_EQ(static_cast<uint8_t>(bmp[at + 2]), 0x12);
        }
        EXPECT_EQ(bmp.substr(54 + row * 12 + 9, 3), std::string(3, '\0'));
    }
}

TEST_P(RasterToBmpConverterTest, UnsupportedPagesFailAloneAndKeepTheirNumbers) {
    {
        RasterStreamWriter raster(input(), GetParam());
        raster.page(RasterStreamWriter::header(4, 3), [](unsigned) { return solid(4, 255, 0, 0); });
        raster.page(RasterStreamWriter::header(4, 3, CUPS_CSPACE_CMYK),
                    [](unsigned) { return std::vector<uint8_t>(16, 0x40); });
        raster.page(RasterStreamWriter::header(4, 3), [](unsigned) { return solid(4, 0, 0, 255); });
    }
    EXPECT_EQ(convert(), 0);
    EXPECT_TRUE(pageExists(1));
    EXPECT_FALSE(pageExists(2));
    ASSERT_TRUE(pageExists(3));
    // The page after the skipped one is read in step: pure blue, not CMYK leftovers.
    EXPECT_EQ(page(3).substr(54, 3), std::string("\xff\0\0", 3));
    EXPECT_TRUE(
        logged(LogLevel::Info, "Conversion complete: 3 page(s) total, 2 converted, 1 failed"));
    EXPECT_TRUE(logged(LogLevel::Error,
                       "process_page: page 2 has unsupported color space 6 (CMYK) - only RGB is "
                       "supported"));
}

TEST_P(RasterToBmpConverterTest, UnsupportedBitsPerColorSkipsThePageData) {
    {
        RasterStreamWriter raster(input(), GetParam());
        auto fourBit = RasterStreamWriter::header(8, 4, CUPS_CSPACE_RGB, 4);
        raster.page(fourBit, [](unsigned) { return std::vector<uint8_t>(12, 0xAB); });
        raster.page(RasterStreamWriter::header(2, 2), [](unsigned) { return solid(2, 1, 2, 3); });
    }
    EXPECT_EQ(convert(), 0);
    EXPECT_FALSE(pageExists(1));
    ASSERT_TRUE(pageExists(2));
    EXPECT_EQ(page(2).substr(54, 6), std::string("\3\2\1\3\2\1", 6));
    EXPECT_TRUE(
        logged(LogLevel::Error,
               "process_page: page 1 has unsupported bits per color: 4 (expected 8 or 16)"));
}

TEST_P(RasterToBmpConverterTest, GrayscaleOnlyWritesNothing) {
    {
        RasterStreamWriter raster(input(), GetParam());
        raster.page(RasterStreamWriter::header(10, 10, CUPS_CSPACE_SW),
                    [](unsigned) { return std::vector<uint8_t>(10, 0x80); });
    }
    EXPECT_EQ(convert(), 1);
    EXPECT_FALSE(pageExists(1));
    EXPECT_TRUE(
        logged(LogLevel::Info, "Conversion complete: 1 page(s) total, 0 converted, 1 failed"));
    EXPECT_TRUE(logged(LogLevel::Info, "cups_raster_to_bmp finished with exit code 1"));
}

TEST_P(RasterToBmpConverterTest, StreamWithoutPagesIsAnError) {
    RasterStreamWriter(input(), GetParam()).close();
    EXPECT_EQ(convert(), 1);
    EXPECT_TRUE(logged(LogLevel::Error, "No pages found in input file " + input()));
}

INSTANTIATE_TEST_SUITE_P(AllWriteModes, RasterToBmpConverterTest,
                         ::testing::Values(CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED,
                                           CUPS_RASTER_WRITE_PWG),
                         [](const auto& info) {
                             switch (info.param) {
                                 case CUPS_RASTER_WRITE:
                                     return std::string("Uncompressed");
                                 case CUPS_RASTER_WRITE_COMPRESSED:
                                     return std::string("Compressed");
                                 default:
                                     return std::string("Pwg");
                             }
                         });

using OutputDirectoryTest = ConverterFixture;

TEST_F(OutputDirectoryTest, IsCreatedOneLevelDeepAndExistingPagesAreOverwritten) {
    {
        RasterStreamWriter raster(input(), CUPS_RASTER_WRITE);
        raster.page(RasterStreamWriter::header(2, 1), [](unsigned) { return solid(2, 9, 9, 9); });
    }
    ASSERT_EQ(convert(), 0);
    EXPECT_TRUE(logged(LogLevel::Debug, "Output directory does not exist, creating: " + output()));
    ScratchDirectory::writeFile(scratch_ / "out" / "0001.bmp", std::string(5000, 'x'));
    ASSERT_EQ(convert(), 0);
    EXPECT_EQ(page(1).size(), 54u + 8);

    const std::string nested = (scratch_ / "a" / "b").string();
    EXPECT_EQ(RasterToBmpConverter().run({"kestroVLConvert", input(), nested}), 1);
    EXPECT_TRUE(logged(LogLevel::Error, "Failed to create output directory " + nested +
                                            ": No such file or directory"));
}

TEST_F(OutputDirectoryTest, AFileInTheWayStopsBeforeTheInputIsRead) {
    ScratchDirectory::writeFile(output(), "not a folder");
    EXPECT_EQ(convert(), 1);  // the input does not even exist
    EXPECT_TRUE(logged(LogLevel::Error, "Output path exists but is not a directory: " + output()));
    for (const std::string& line : log_->messages()) {
        EXPECT_EQ(line.find("Opening input file"), std::string::npos);
    }
}

TEST_F(OutputDirectoryTest, APagePathBeyondTheLimitFailsInsteadOfBeingShortened) {
    {
        RasterStreamWriter raster(input(), CUPS_RASTER_WRITE);
        raster.page(RasterStreamWriter::header(2, 1), [](unsigned) { return solid(2, 9, 9, 9); });
    }
    // Nested folders leading to two siblings: with "/0001.bmp" the first makes a path of exactly
    // 1023 characters, the second one of 1024.
    std::string parent = scratch_.path().string();
    while (1014 - parent.size() > 201) {
        parent += "/" + std::string(150, 'd');
        std::filesystem::create_directory(parent);
    }
    const std::string last(1014 - parent.size() - 1, 'e');
    const std::string fits = parent + "/" + last;
    const std::string tooLong = fits + "e";
    ASSERT_EQ(fits.size() + std::string("/0001.bmp").size(), 1023u);

    EXPECT_EQ(RasterToBmpConverter().run({"kestroVLConvert", input(), fits}), 0);
    EXPECT_TRUE(std::filesystem::exists(fits + "/0001.bmp"));

    EXPECT_EQ(RasterToBmpConverter().run({"kestroVLConvert", input(), tooLong}), 1);
    // Nothing under a cut name such as "0001.bm".
    EXPECT_TRUE(std::filesystem::is_empty(tooLong));
    EXPECT_TRUE(logged(
        LogLevel::Error,
        "process_page: path of page 1 is longer than 1023 characters: " + tooLong + "/0001.bmp"));
    EXPECT_TRUE(
        logged(LogLevel::Info, "Conversion complete: 1 page(s) total, 0 converted, 1 failed"));
}

TEST_F(OutputDirectoryTest, MissingInputFileIsAnError) {
    EXPECT_EQ(convert(), 1);
    EXPECT_TRUE(logged(LogLevel::Error,
                       "Failed to open input file " + input() + ": No such file or directory"));
}

}  // namespace
}  // namespace velmora::test
