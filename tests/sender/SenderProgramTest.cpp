#include <gtest/gtest.h>

#include "core/crypto/JobFileCipher.h"
#include "core/xml/XmlHelpers.h"
#include "tests/sender/ServiceFixture.h"
#include "tests/support/ChildProcess.h"
#include "tools/rastergen/RasterStreamWriter.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

// The print system's path for one job: raster stream, converter, sender program, service.
class EndToEndTest : public ServiceFixture, public ::testing::WithParamInterface<int> {
  protected:
    // Three pages; the first is noise, so that even packed it needs two ranges to the server.
    void writeRaster(const fs::path& path) const {
        RasterStreamWriter raster(path.string(), CUPS_RASTER_WRITE_COMPRESSED);
        std::mt19937 random(7);
        raster.page(RasterStreamWriter::header(640, 600), [&](unsigned) {
            std::vector<uint8_t> line(640 * 3);
            for (uint8_t& byte : line)
                byte = static_cast<uint8_t>(random());
            return line;
        });
        for (unsigned page = 1; page < 3; ++page) {
            raster.page(RasterStreamWriter::header(300, 200), [page](unsigned y) {
                std::vector<uint8_t> line;
                for (unsigned x = 0; x < 300; ++x) {
                    line.insert(line.end(), {static_cast<uint8_t>(x), static_cast<uint8_t>(y),
                                             static_cast<uint8_t>(page * 80)});
                }
                return line;
            });
        }
    }

    // Converts with the real converter and copies the pages into the spool directory; returns
    // the page files as the converter wrote them.
    std::vector<std::string> convertJob() const {
        const fs::path raster = scratch_ / "job.raster";
        const fs::path pages = scratch_ / "converted";
        writeRaster(raster);
        const auto converted = ChildProcess::run(
            {KESTRO_VL_CONVERT_PATH, raster.string(), pages.string()}, scratch_.path());
        EXPECT_EQ(converted.exitStatus, 0) << converted.standardError;
        std::vector<std::string> bytes;
        for (const char* name : {"0001.bmp", "0002.bmp", "0003.bmp"}) {
            bytes.push_back(ScratchDirectory::readFile(pages / name));
            fs::copy_file(pages / name, spoolDir() / name);
        }
        return bytes;
    }

    // A stored page decrypted (when the job is encrypted) and unpacked.
    std::string receivedPage(int jobId, int pageNo, const std::vector<uint8_t>& key) const {
        const std::string stored = service_->page(jobId, pageNo);
        if (key.empty())
            return gunzip(stored);
        const fs::path encrypted = scratch_ / "received.enc";
        const fs::path plain = scratch_ / "received.gz";
        ScratchDirectory::writeFile(encrypted, stored);
        std::string error;
        EXPECT_TRUE(decryptJobFile(encrypted, plain, key, error)) << error;
        return gunzip(ScratchDirectory::readFile(plain));
    }
};

TEST_P(EndToEndTest, PagesArriveAtTheServiceExactlyAsConverted) {
    const int mode = GetParam();
    setup_.encryption = mode;
    setup_.encryptionPassword = "s3cret";
    writeSetup(setup_);
    const std::vector<std::string> pages = convertJob();
    ASSERT_GT(pages[0].size(), 1048576u);

    const auto sent =
        ChildProcess::run({VELMORA_SENDER_TESTABLE_PATH, "--system-dir=" + systemDir().string(),
                           "SpoolDir=" + spoolDir().string(), "User=alice",
                           std::string("DestinationPrinterID=Velmora_") + kPrinterId,
                           "com.apple.print.JobInfo.PMJobName=Report", "media=Letter"},
                          scratch_.path());
    EXPECT_EQ(sent.exitStatus, 0);
    EXPECT_EQ(sent.standardOutput, "");
    EXPECT_EQ(message(), successMessage());
    EXPECT_FALSE(fs::exists(spoolDir()));

    const auto state = service_->state();
    EXPECT_EQ(state.get<int>("malformed_count"), 0);
    EXPECT_EQ(state.get<int>("deviation_count"), 0);
    const auto job = onlyJob();
    const int jobId = job.get<int>("id");
    EXPECT_EQ(job.get<std::string>("status"), "ready");
    EXPECT_EQ(job.get<int>("final_pages"), 3);
    std::vector<uint8_t> key;
    if (mode == 0) {
        EXPECT_EQ(job.get_child("fields").count("encrypt"), 0u);
    } else {
        EXPECT_EQ(job.get_child("fields").get<std::string>("encrypt-method"),
                  mode == 1 ? "AES" : "AES0");
        // Consoles already installed build the same password from the same four characters, so
        // the sender must keep sending exactly these.
        EXPECT_EQ(job.get<std::string>("key_password"),
                  mode == 1 ? std::string("s3cret") : "Vm4k" + std::to_string(jobId));
        key = dataWithBase64EncodedString(job.get<std::string>("key")).value();
    }
    for (int pageNo = 1; pageNo <= 3; ++pageNo)
        EXPECT_EQ(receivedPage(jobId, pageNo, key), pages[pageNo - 1]) << "page " << pageNo;
}

INSTANTIATE_TEST_SUITE_P(EncryptionModes, EndToEndTest, ::testing::Values(0, 1, 2));

using SenderProgramTest = ServiceFixture;

TEST_F(SenderProgramTest, TheInstalledProgramAlwaysExitsWithZeroAndPrintsNothing) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{VELMORA_SENDER_PATH},
          std::vector<std::string>{VELMORA_SENDER_PATH, "SpoolDir=/nonexistent/12", "Duplex",
                                   "media=A4=x"}}) {
        const auto result = ChildProcess::run(arguments, scratch_.path());
        EXPECT_TRUE(result.started);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.standardOutput, "");
    }
}

}  // namespace
}  // namespace velmora::test
