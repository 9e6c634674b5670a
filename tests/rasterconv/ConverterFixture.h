#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/CaptureLogSink.h"
#include "platform/Logger.h"
#include "rasterconv/RasterToBmpConverter.h"
#include "tests/support/ScratchDirectory.h"
#include "tools/rastergen/RasterStreamWriter.h"

namespace velmora::test {
using velmora::RasterStreamWriter;

inline uint32_t le32(const std::string& bytes, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
}

inline uint16_t le16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                                 static_cast<uint8_t>(bytes[at + 1]) << 8);
}

// Runs the converter in-process with the log captured.
class ConverterFixture : public ::testing::Test {
  protected:
    void SetUp() override { previousSink_ = Logger::setSink(log_); }
    void TearDown() override { Logger::setSink(previousSink_); }

    std::string input() const { return (scratch_ / "job.raster").string(); }
    std::string output() const { return (scratch_ / "out").string(); }
    std::string page(unsigned number) const {
        char name[32];
        std::snprintf(name, sizeof name, "%04u.bmp", number);
        return ScratchDirectory::readFile(scratch_ / "out" / name);
    }
    bool pageExists(unsigned number) const {
        char name[32];
        std::snprintf(name, sizeof name, "%04u.bmp", number);
        return std::filesystem::exists(scratch_ / "out" / name);
    }
    int convert() { return RasterToBmpConverter().run({"kestroVLConvert", input(), output()}); }
    bool logged(LogLevel level, const std::string& message) const {
        return log_->contains(level, message);
    }

    static std::vector<uint8_t> solid(unsigned width, uint8_t r, uint8_t g, uint8_t b) {
        std::vector<uint8_t> line;
        for (unsigned x = 0; x < width; ++x)
            line.insert(line.end(), {r, g, b});
        return line;
    }

    ScratchDirectory scratch_{"velmora-rasterconv"};
    std::shared_ptr<CaptureLogSink> log_ = std::make_shared<CaptureLogSink>();
    std::shared_ptr<LogSink> previousSink_;
};

}  // namespace velmora::test
