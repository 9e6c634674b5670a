#include "tests/rasterconv/ConverterFixture.h"
#include "tests/support/ChildProcess.h"

namespace velmora::test {
namespace {

using KestroVLConvertProgramTest = ConverterFixture;

TEST_F(KestroVLConvertProgramTest, TooFewArgumentsPrintUsage) {
    for (auto arguments : {std::vector<std::string>{}, std::vector<std::string>{input()}}) {
        arguments.insert(arguments.begin(), KESTRO_VL_CONVERT_PATH);
        ChildProcess::Result result = ChildProcess::run(arguments, scratch_.path());
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardError,
                  std::string("Usage: ") + KESTRO_VL_CONVERT_PATH +
                      " <input.raster> <output_directory>\n\nConverts CUPS Raster files to BMP "
                      "images.\nOutput files: 0001.bmp, 0002.bmp, etc.\n\nSupported color "
                      "spaces: RGB, sRGB\n");
    }
}

TEST_F(KestroVLConvertProgramTest, ConvertsAndIgnoresExtraArguments) {
    {
        RasterStreamWriter raster(input(), CUPS_RASTER_WRITE_COMPRESSED);
        for (int i = 0; i < 3; ++i) {
            raster.page(RasterStreamWriter::header(640, 480),
                        [](unsigned y) { return solid(640, y, 0, 0); });
        }
    }
    ChildProcess::Result result = ChildProcess::run(
        {KESTRO_VL_CONVERT_PATH, input(), output(), "extra", "arguments"}, scratch_.path());
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardError, "");
    EXPECT_EQ(page(3).size(), 54u + 1920 * 480);
    EXPECT_FALSE(pageExists(4));
}

}  // namespace
}  // namespace velmora::test
