// Feeds arbitrary bytes through the whole page path: raster stream, page headers, pixel
// conversion and BMP files written to a scratch folder.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/LogSink.h"
#include "platform/Logger.h"
#include "rasterconv/RasterToBmpConverter.h"

namespace {

class DiscardSink : public velmora::LogSink {
  public:
    void write(velmora::LogLevel, std::string_view, std::string_view, std::string_view) override {}
};

const std::filesystem::path& scratch() {
    static const std::filesystem::path folder = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "velmora-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        velmora::Logger::setSink(std::make_shared<DiscardSink>());
        std::atexit([] { std::filesystem::remove_all(scratch()); });
        return std::filesystem::path(pattern);
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto input = scratch() / "input.raster";
    const auto output = scratch() / "pages";
    {
        std::ofstream file(input, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    velmora::RasterToBmpConverter converter;
    const int status = converter.run({"kestroVLConvert", input.string(), output.string()});
    if (status != 0 && status != 1)
        std::abort();
    std::filesystem::remove_all(output);
    return 0;
}
