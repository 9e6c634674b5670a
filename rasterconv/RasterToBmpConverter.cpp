#include "RasterToBmpConverter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "BmpWriter.h"
#include "BufferedFileReader.h"
#include "ColorSpaceName.h"

namespace velmora {

namespace {

struct RasterCloser {
    void operator()(cups_raster_t* raster) const { cupsRasterClose(raster); }
};
using RasterHandle = std::unique_ptr<cups_raster_t, RasterCloser>;

constexpr unsigned kProgressInterval = 500;
constexpr size_t kMaxPathLength = 1023;

std::string pageFileName(unsigned pageNumber) {
    char name[32];
    std::snprintf(name, sizeof name, "%04u.bmp", pageNumber);
    return name;
}

uint64_t bytesOfPixels(const cups_page_header2_t& header) {
    return uint64_t{header.cupsWidth} * 3 * header.cupsBitsPerColor / 8;
}

}  // namespace

RasterToBmpConverter::RasterToBmpConverter(const OutputLimits& limits)
    : logger_("com.korvex.kestroVLConvert", "conversion"), limits_(limits) {}

int RasterToBmpConverter::run(const std::vector<std::string>& arguments) {
    const std::string program = arguments.empty() ? "kestroVLConvert" : arguments[0];
    if (arguments.size() < 3) {
        logger_.error("Usage: {} <input.raster> <output_directory>", program);
        printUsage(program);
        return 1;
    }
    const std::string& inputPath = arguments[1];
    const std::string& outputDirectory = arguments[2];

    logger_.info("cups_raster_to_bmp starting");
    logger_.info("Input file: {}", inputPath);
    logger_.info("Output directory: {}", outputDirectory);

    int status = 1;
    Output output{outputDirectory, openOutputDirectory(outputDirectory), OutputBudget(limits_)};
    if (output.directory) {
        logger_.debug("Opening input file: {}", inputPath);
        int fd = ::open(inputPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            logger_.error("Failed to open input file {}: {}", inputPath, std::strerror(errno));
        } else {
            status = convertStream(fd, inputPath, output);
            logger_.debug("Closing input file");
            ::close(fd);
        }
    }
    page_.release();
    logger_.info("cups_raster_to_bmp finished with exit code {}", status);
    return status;
}

void RasterToBmpConverter::printUsage(const std::string& program) const {
    std::fprintf(stderr,
                 "Usage: %s <input.raster> <output_directory>\n"
                 "\n"
                 "Converts CUPS Raster files to BMP images.\n"
                 "Output files: 0001.bmp, 0002.bmp, etc.\n"
                 "\n"
                 "Supported color spaces: RGB, sRGB\n",
                 program.c_str());
}

// The folder is opened once and every page is created relative to it, so that renaming or
// replacing the path during the run cannot redirect the pages. A symbolic link in place of the
// folder is refused: the pages would land wherever it points. So is a folder someone else
// owns or everyone may write into.
UniqueFd RasterToBmpConverter::openOutputDirectory(const std::string& directory) const {
    struct stat info {};
    if (::lstat(directory.c_str(), &info) != 0) {
        logger_.debug("Output directory does not exist, creating: {}", directory);
        if (::mkdir(directory.c_str(), 0755) != 0) {
            logger_.error("Failed to create output directory {}: {}", directory,
                          std::strerror(errno));
            return UniqueFd();
        }
        logger_.debug("Output directory created successfully");
    } else if (S_ISLNK(info.st_mode)) {
        logger_.error("Output path is a symbolic link, not a directory: {}", directory);
        return UniqueFd();
    } else if (!S_ISDIR(info.st_mode)) {
        logger_.error("Output path exists but is not a directory: {}", directory);
        return UniqueFd();
    }
    UniqueFd folder(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) {
        logger_.error("Failed to open output directory {}: {}", directory, std::strerror(errno));
        return folder;
    }
    // Whoever else may create or rename entries in the folder can leave a file of their own
    // under a page's name, which a page that fails then does not replace, or swap a finished
    // page for theirs.
    if (::fstat(folder.get(), &info) != 0) {
        logger_.error("Failed to open output directory {}: {}", directory, std::strerror(errno));
        return UniqueFd();
    }
    if (info.st_uid != ::geteuid()) {
        logger_.error("Output directory belongs to another user: {}", directory);
        return UniqueFd();
    }
    if ((info.st_mode & S_IWOTH) != 0) {
        logger_.error("Output directory may be written by other users: {}", directory);
        return UniqueFd();
    }
    return folder;
}

int RasterToBmpConverter::convertStream(int fd, const std::string& inputPath, Output& output) {
    logger_.debug("Initializing CUPS raster reader");
    BufferedFileReader reader(fd);
    RasterHandle raster(cupsRasterOpenIO(BufferedFileReader::read, &reader, CUPS_RASTER_READ));
    if (!raster) {
        logger_.error("Failed to open CUPS raster stream from {}", inputPath);
        return 1;
    }
    logger_.debug("CUPS raster stream opened successfully");

    unsigned total = 0, converted = 0, failed = 0;
    cups_page_header2_t header;
    while (cupsRasterReadHeader2(raster.get(), &header)) {
        const unsigned pageNumber = ++total;
        logger_.info("Processing page {}: {}x{}, colorspace={}", pageNumber, header.cupsWidth,
                     header.cupsHeight, colorSpaceName(header.cupsColorSpace));
        if (convertPage(raster.get(), header, pageNumber, output) == PageResult::Converted) {
            ++converted;
        } else {
            ++failed;
            removeEarlierPage(output, pageNumber);
        }
    }

    int status;
    if (total == 0) {
        logger_.error("No pages found in input file {}", inputPath);
        status = 1;
    } else {
        logger_.info("Conversion complete: {} page(s) total, {} converted, {} failed", total,
                     converted, failed);
        status = converted > 0 ? 0 : 1;
    }
    logger_.debug("Closing CUPS raster stream");
    raster.reset();
    return status;
}

RasterToBmpConverter::PageResult RasterToBmpConverter::convertPage(
    cups_raster_t* raster, const cups_page_header2_t& header, unsigned pageNumber, Output& output) {
    if (header.cupsWidth == 0 || header.cupsHeight == 0) {
        logger_.error("Page {} has invalid dimensions: {}x{}", pageNumber, header.cupsWidth,
                      header.cupsHeight);
        return PageResult::Failed;
    }
    logger_.debug("process_page: page {} - dimensions {}x{}", pageNumber, header.cupsWidth,
                  header.cupsHeight);
    logger_.debug("process_page: page {} - bitsPerColor={}, bitsPerPixel={}, bytesPerLine={}",
                  pageNumber, header.cupsBitsPerColor, header.cupsBitsPerPixel,
                  header.cupsBytesPerLine);
    logger_.debug("process_page: page {} - colorSpace={} ({}), numColors={}", pageNumber,
                  static_cast<int>(header.cupsColorSpace), colorSpaceName(header.cupsColorSpace),
                  header.cupsNumColors);
    logger_.debug("process_page: page {} - resolution {}x{} DPI", pageNumber,
                  header.HWResolution[0], header.HWResolution[1]);

    if (header.cupsColorSpace != CUPS_CSPACE_RGB && header.cupsColorSpace != CUPS_CSPACE_SRGB) {
        logger_.error(
            "process_page: page {} has unsupported color space {} ({}) - only RGB is supported",
            pageNumber, static_cast<int>(header.cupsColorSpace),
            colorSpaceName(header.cupsColorSpace));
        skipPixelData(raster, header);
        return PageResult::Failed;
    }
    if (header.cupsBitsPerColor != 8 && header.cupsBitsPerColor != 16) {
        logger_.error("process_page: page {} has unsupported bits per color: {} (expected 8 or 16)",
                      pageNumber, header.cupsBitsPerColor);
        skipPixelData(raster, header);
        return PageResult::Failed;
    }
    if (!pageFitsLimits(header, pageNumber) || !pageFitsBudget(header, pageNumber, output)) {
        skipPixelData(raster, header);
        return PageResult::Failed;
    }

    std::vector<uint8_t> lineBuffer;
    if (!readPage(raster, header, pageNumber, lineBuffer))
        return PageResult::Failed;

    logger_.debug("process_page: page {} - all {} scanlines read and converted", pageNumber,
                  header.cupsHeight);
    const std::string name = pageFileName(pageNumber);
    const std::string path = output.path + "/" + name;
    // A shortened path would name another file, one the sender does not take for a page.
    if (path.size() > kMaxPathLength) {
        logger_.error("process_page: path of page {} is longer than {} characters: {}", pageNumber,
                      kMaxPathLength, path);
        return PageResult::Failed;
    }
    logger_.info("Writing page {} to {}", pageNumber, path);
    BmpWriter writer(logger_);
    if (!writer.write(page_, output.directory.get(), name, path,
                      {header.HWResolution[0], header.HWResolution[1]})) {
        logger_.error("process_page: failed to write BMP file {}", path);
        return PageResult::Failed;
    }
    output.budget.spend(BmpWriter::fileSize(page_));
    logger_.debug("process_page: page {} completed successfully", pageNumber);
    return PageResult::Converted;
}

bool RasterToBmpConverter::pageFitsLimits(const cups_page_header2_t& header,
                                          unsigned pageNumber) const {
    const uint64_t imageBytes =
        uint64_t{PageImage::rowSizeFor(header.cupsWidth)} * header.cupsHeight;
    if (header.cupsWidth > kMaxDimension || header.cupsHeight > kMaxDimension ||
        imageBytes > kMaxPageImageBytes || header.cupsBytesPerLine > kMaxLineBytes) {
        logger_.error(
            "process_page: page {} is too large to convert ({}x{}, {} bytes per line; limits "
            "{} pixels a side, {} bytes of image, {} bytes per line)",
            pageNumber, header.cupsWidth, header.cupsHeight, header.cupsBytesPerLine, kMaxDimension,
            kMaxPageImageBytes, kMaxLineBytes);
        return false;
    }
    const uint64_t pixelBytes = bytesOfPixels(header);
    if (header.cupsBytesPerLine < pixelBytes) {
        logger_.error(
            "process_page: page {} has {} bytes per line, fewer than the {} its pixels need",
            pageNumber, header.cupsBytesPerLine, pixelBytes);
        return false;
    }
    return true;
}

bool RasterToBmpConverter::pageFitsBudget(const cups_page_header2_t& header, unsigned pageNumber,
                                          const Output& output) const {
    const uint64_t fileBytes =
        BmpWriter::kHeaderSize +
        uint64_t{PageImage::rowSizeFor(header.cupsWidth)} * header.cupsHeight;
    const std::string refusal = output.budget.refusal(output.directory.get(), fileBytes);
    if (!refusal.empty()) {
        logger_.error("process_page: page {} does not fit the output budget: {}", pageNumber,
                      refusal);
        return false;
    }
    return true;
}

// A file from an earlier run under the number of a page that failed now would be taken for
// this job's page.
void RasterToBmpConverter::removeEarlierPage(const Output& output, unsigned pageNumber) const {
    const std::string name = pageFileName(pageNumber);
    if (::unlinkat(output.directory.get(), name.c_str(), 0) == 0) {
        logger_.info("Removed {}/{} left from an earlier run in place of failed page {}",
                     output.path, name, pageNumber);
    }
}

bool RasterToBmpConverter::readPage(cups_raster_t* raster, const cups_page_header2_t& header,
                                    unsigned pageNumber, std::vector<uint8_t>& lineBuffer) {
    const uint32_t width = header.cupsWidth;
    const uint32_t height = header.cupsHeight;
    const unsigned bytesPerLine = header.cupsBytesPerLine;
    const size_t rgbLine = size_t{width} * 3;
    const size_t totalRgb = rgbLine * height;
    // Lines arrive in a small buffer that stays in cache and are converted into the page image
    // in one pass, so the large image is written once and read once.
    bool allocated = page_.reset(width, height);
    if (allocated) {
        try {
            lineBuffer.resize(bytesPerLine);
        } catch (const std::bad_alloc&) {
            allocated = false;
        }
    }
    if (!allocated) {
        logger_.error("process_page: failed to allocate buffers for page {} (need {} bytes)",
                      pageNumber, size_t{bytesPerLine} + rgbLine + totalRgb);
        return false;
    }
    logger_.debug("process_page: allocated buffers - src_line={}, rgb_line={}, total_rgb={}",
                  bytesPerLine, rgbLine, totalRgb);

    for (uint32_t line = 0; line < height; ++line) {
        const unsigned got = cupsRasterReadPixels(raster, lineBuffer.data(), bytesPerLine);
        if (got != bytesPerLine) {
            logger_.error(
                "process_page: failed to read scanline {} of page {} (got {} of {} bytes)", line,
                pageNumber, got, bytesPerLine);
            return false;
        }
        page_.storeLine(line, lineBuffer.data(), header.cupsBitsPerColor);
        if (line > 0 && line % kProgressInterval == 0) {
            logger_.debug("process_page: page {} - processed {}/{} scanlines", pageNumber, line,
                          height);
        }
    }
    page_.finish();
    return true;
}

// Reads and drops the pixel data of a page that is not converted, so that the next page header
// is read where it starts. Stops at the end of the stream.
void RasterToBmpConverter::skipPixelData(cups_raster_t* raster,
                                         const cups_page_header2_t& header) const {
    if (header.cupsBytesPerLine == 0 || header.cupsBytesPerLine > kMaxLineBytes)
        return;
    std::vector<uint8_t> scratch;
    try {
        scratch.resize(header.cupsBytesPerLine);
    } catch (const std::bad_alloc&) {
        return;
    }
    for (uint32_t line = 0; line < header.cupsHeight; ++line) {
        if (cupsRasterReadPixels(raster, scratch.data(), header.cupsBytesPerLine) == 0)
            return;
    }
}

}  // namespace velmora
