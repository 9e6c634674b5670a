#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora {
class Config;
class Paper;
class Printer;
class RemotePrinter;
class RemotePrinterArray;
}  // namespace velmora

namespace velmora::console {

// The PPD of the queues of remote printers without duplex, made from the papers and bins of
// the user's default remote printer. Besides the choices it asks the print system for 8-bit
// RGB CUPS raster at the chosen resolution, with every copy rendered, which is what the
// backend's converter takes.
//
// The papers and bins come from other users, so a keyword that is not a plain PPD keyword is
// skipped (and logged), a title loses quotes, colons, angle brackets and control characters,
// and a size outside 1..14,400 points or not a number is skipped: nothing they send can add a
// line to the file.
class PpdGenerator {
  public:
    struct PaperEntry {
        std::string keyword;
        std::string title;
        int width = 0;   // points
        int height = 0;  // points
    };
    struct BinEntry {
        std::string keyword;
        std::string title;
    };

    // Writes the PPD to config.getPPDFileName() atomically with mode 0644. False, leaving the
    // earlier file in place, when the write fails or when the printer offers papers but none
    // that can be used.
    static bool generatePPDFile(const Config& config, const RemotePrinterArray& printers,
                                std::string& error);
    // The whole text; false when the printer offers papers but none that can be used.
    static bool ppdText(const Config& config, const RemotePrinterArray& printers, std::string& text,
                        std::string& error);
    // The paper lines of one section: the default line, then one entry line per paper. The
    // formats take {} for the keyword; keyword, title, width and height for an entry.
    static void appendPaperEntries(std::string& text, const std::vector<PaperEntry>& papers,
                                   const std::string& defaultKeyword,
                                   std::string_view defaultLineFormat,
                                   std::string_view entryLineFormat);

    // The printer's usable papers, in list order, without repeated keywords, at most kMaxPapers.
    static std::vector<PaperEntry> paperEntries(const Printer& printer, const Config& config);
    static std::vector<BinEntry> binEntries(const Printer& printer);

    // 1..40 characters of letters, digits, '.', '_', '+' and '-', not starting with '.'.
    static bool isSafeKeyword(std::string_view keyword);
    // Without quotes, colons, angle brackets and control characters, at most 80 bytes.
    static std::string cleanTitle(std::string_view title);

    static constexpr int kMinPoints = 1;
    static constexpr int kMaxPoints = 14400;
    static constexpr size_t kMaxKeywordLength = 40;
    static constexpr size_t kMaxTitleBytes = 80;
    // More choices than any printer has; the rest of a longer list is left out (and logged).
    static constexpr size_t kMaxPapers = 500;
    static constexpr size_t kMaxBins = 100;
};

}  // namespace velmora::console
