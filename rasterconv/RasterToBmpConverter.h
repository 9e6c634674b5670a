#pragma once

#include <cups/raster.h>

#include <string>
#include <vector>

#include "OutputBudget.h"
#include "PageImage.h"
#include "platform/Logger.h"
#include "platform/UniqueFd.h"

namespace velmora {

// Turns one CUPS raster stream into numbered BMP files, one per page ("0001.bmp", ...).
// Only RGB and sRGB pages of 8 or 16 bits per colour are converted; a page that cannot be
// converted is counted as failed and the stream goes on with the next page.
class RasterToBmpConverter {
  public:
    explicit RasterToBmpConverter(const OutputLimits& limits = OutputLimits());

    // The whole program: arguments as main() receives them; returns the exit status.
    int run(const std::vector<std::string>& arguments);

    // Limits that keep a hostile page header from sizing an allocation. Pages beyond them fail.
    static constexpr uint32_t kMaxDimension = 0xFFFFFF;
    static constexpr uint64_t kMaxPageImageBytes = uint64_t{1} << 31;
    static constexpr uint64_t kMaxLineBytes = uint64_t{1} << 27;

  private:
    enum class PageResult { Converted, Failed };

    // Where one run writes its pages and how much it may still write.
    struct Output {
        std::string path;
        UniqueFd directory;
        OutputBudget budget;
    };

    void printUsage(const std::string& program) const;
    UniqueFd openOutputDirectory(const std::string& directory) const;
    int convertStream(int fd, const std::string& inputPath, Output& output);
    PageResult convertPage(cups_raster_t* raster, const cups_page_header2_t& header,
                           unsigned pageNumber, Output& output);
    bool pageFitsBudget(const cups_page_header2_t& header, unsigned pageNumber,
                        const Output& output) const;
    void removeEarlierPage(const Output& output, unsigned pageNumber) const;
    bool pageFitsLimits(const cups_page_header2_t& header, unsigned pageNumber) const;
    bool readPage(cups_raster_t* raster, const cups_page_header2_t& header, unsigned pageNumber,
                  std::vector<uint8_t>& lineBuffer);
    void skipPixelData(cups_raster_t* raster, const cups_page_header2_t& header) const;

    Logger logger_;
    OutputLimits limits_;
    PageImage page_;
};

}  // namespace velmora
