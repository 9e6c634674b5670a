#include "console/remote/PpdGenerator.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>
#include <set>

#include "console/remote/QueueNames.h"
#include "core/Deployment.h"
#include "core/config/Config.h"
#include "core/model/RemotePrinterArray.h"
#include "core/xml/XmlHelpers.h"
#include "platform/Logger.h"

namespace velmora::console {

namespace {

constexpr const char* kHeader =
    "*PPD-Adobe:     \"4.3\"\n"
    "*FormatVersion: \"4.3\"\n"
    "*FileVersion:   \"1.1\"\n"
    "*LanguageVersion: English\n"
    "*LanguageEncoding: UTF-8\n"
    "*PCFileName:    \"PSCOLOR.PPD\"\n"
    "*Manufacturer:\t\"Tandrel\"\n"
    "*Product:       \"(CUPS v1.1)\"\n"
    "*ModelName:     \"VelmoraV0\"\n"
    "*ShortNickName: \"Kestro0\"\n"
    "*NickName:      \"Velmora\"\n"
    "*% cupsFilter:  \"application/vnd.cups-postscript 0 pstitleiconv\"\n"
    "*PSVersion:     \"(2017.000) 0\"\n"
    "*LanguageLevel:\t\"2\"\n"
    "*ColorDevice:   True\n"
    "*DefaultColorSpace: RGB\n"
    "*FileSystem:    False\n"
    "*Throughput:    \"8\"\n"
    "*TTRasterizer:\tType42\n"
    "*OpenGroup:     General/General\n";

// What the backend's converter needs: raster passed through untouched, 8-bit RGB, every copy
// rendered (the sender is then told one copy), and a choice of resolution (300 dpi unless
// chosen otherwise).
constexpr const char* kRasterTail =
    "\n*cupsFilter2: \"application/vnd.cups-raster application/vnd.cups-raster 0 -\"\n"
    "*cupsManualCopies: True\n"
    "\n*OpenUI *ColorModel/Color Mode: PickOne\n"
    "*OrderDependency: 10 AnySetup *ColorModel\n"
    "*DefaultColorModel: RGB\n"
    "*ColorModel RGB/Color: \"<</cupsColorOrder 0/cupsColorSpace 1/cupsBitsPerColor 8>>"
    "setpagedevice\"\n"
    "*CloseUI: *ColorModel\n"
    "\n*OpenUI *Resolution/Resolution: PickOne\n"
    "*OrderDependency: 20 AnySetup *Resolution\n"
    "*DefaultResolution: 300dpi\n"
    "*Resolution 150dpi/150 DPI: \"<</HWResolution[150 150]>>setpagedevice\"\n"
    "*Resolution 300dpi/300 DPI: \"<</HWResolution[300 300]>>setpagedevice\"\n"
    "*Resolution 600dpi/600 DPI: \"<</HWResolution[600 600]>>setpagedevice\"\n"
    "*CloseUI: *Resolution\n";

// 216.0 mm x 279.0 mm, when the printer names no paper at all.
const PpdGenerator::PaperEntry kFallbackPaper{"default", "Default", 612, 790};

const Logger& logger() {
    static const Logger instance(std::string(deployment::kLogSubsystem), "ppd");
    return instance;
}

// The print system reads a page size "Custom" or "Custom.*" (in any case) as its own custom
// size and renames the entry: as the default it would name no choice at all.
bool namesCustomSize(std::string_view keyword) {
    constexpr std::string_view kCustom = "custom";
    if (keyword.size() < kCustom.size() ||
        (keyword.size() > kCustom.size() && keyword[kCustom.size()] != '.'))
        return false;
    return std::equal(kCustom.begin(), kCustom.end(), keyword.begin(), [](char a, char b) {
        return a == ((b >= 'A' && b <= 'Z') ? static_cast<char>(b - 'A' + 'a') : b);
    });
}

std::string keywordOf(const std::string& code) {
    return code.empty() ? "unknown" : code;
}

// Points truncated toward zero; nullopt for a size that is not a number or out of range.
std::optional<int> points(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    const double truncated = std::trunc(value);
    if (truncated < PpdGenerator::kMinPoints || truncated > PpdGenerator::kMaxPoints)
        return std::nullopt;
    return static_cast<int>(truncated);
}

const RemotePrinter* chosenPrinter(const Config& config, const RemotePrinterArray& printers) {
    if (const auto printer = printers.getPrinter(config.defaultPrinterId()))
        return printer.get();
    return printers.count() > 0 ? printers.objectAtIndex(0).get() : nullptr;
}

void appendInputSlots(std::string& text, const std::vector<PpdGenerator::BinEntry>& bins,
                      const std::string& defaultKeyword) {
    text += "\n*OpenUI *InputSlot/Media Source: PickOne\n";
    text += "*OrderDependency: 10 AnySetup *InputSlot\n";
    text += fmt::format("*DefaultInputSlot: {}\n", defaultKeyword);
    // A numeric position: a named one is not PostScript and fails the PPD checker.
    for (size_t index = 0; index < bins.size(); ++index) {
        text += fmt::format("*InputSlot {}/{}: \"<</MediaPosition {}>>setpagedevice\"\n",
                            bins[index].keyword, bins[index].title, index);
    }
    text += "*CloseUI: *InputSlot\n";
}

template <typename Entry>
std::string defaultKeywordAmong(const std::vector<Entry>& entries, const std::string& wanted) {
    for (const Entry& entry : entries) {
        if (entry.keyword == wanted)
            return wanted;
    }
    return entries.front().keyword;
}

}  // namespace

bool PpdGenerator::isSafeKeyword(std::string_view keyword) {
    if (keyword.empty() || keyword.size() > kMaxKeywordLength || keyword.front() == '.')
        return false;
    return std::all_of(keyword.begin(), keyword.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '+' || c == '-';
    });
}

std::string PpdGenerator::cleanTitle(std::string_view title) {
    std::string clean = QueueNames::withoutControlCharacters(title);
    std::erase_if(clean, [](char c) { return c == '"' || c == ':' || c == '<' || c == '>'; });
    return std::string(QueueNames::cutToBytes(clean, kMaxTitleBytes));
}

std::vector<PpdGenerator::PaperEntry> PpdGenerator::paperEntries(const Printer& printer,
                                                                 const Config& config) {
    std::vector<PaperEntry> entries;
    std::set<std::string> seen;
    for (const Paper& paper : printer.papers()) {
        const std::string keyword = keywordOf(paper.format());
        const double width =
            paper.custom() ? Paper::mcmToSystem(config.customPaperWidth()) : paper.systemWidth();
        const double height =
            paper.custom() ? Paper::mcmToSystem(config.customPaperHeight()) : paper.systemHeight();
        const auto w = points(width);
        const auto h = points(height);
        if (!isSafeKeyword(keyword) || !w || !h || !seen.insert(keyword).second) {
            logger().error("Skipped paper \"{}\": not a usable PPD paper",
                           cleanTitle(paper.format()));
            continue;
        }
        if (entries.size() == PpdGenerator::kMaxPapers) {
            logger().error("Skipped the papers after the first {}", PpdGenerator::kMaxPapers);
            break;
        }
        std::string title = cleanTitle(paper.title());
        entries.push_back({keyword, title.empty() ? keyword : title, *w, *h});
    }
    return entries;
}

std::vector<PpdGenerator::BinEntry> PpdGenerator::binEntries(const Printer& printer) {
    std::vector<BinEntry> entries;
    std::set<std::string> seen;
    for (const Bin& bin : printer.bins()) {
        const std::string keyword = keywordOf(bin.code());
        if (!isSafeKeyword(keyword) || !seen.insert(keyword).second) {
            logger().error("Skipped tray \"{}\": not a usable PPD keyword", cleanTitle(bin.code()));
            continue;
        }
        if (entries.size() == PpdGenerator::kMaxBins) {
            logger().error("Skipped the trays after the first {}", PpdGenerator::kMaxBins);
            break;
        }
        std::string title = cleanTitle(bin.title());
        entries.push_back({keyword, title.empty() ? keyword : title});
    }
    return entries;
}

void PpdGenerator::appendPaperEntries(std::string& text, const std::vector<PaperEntry>& papers,
                                      const std::string& defaultKeyword,
                                      std::string_view defaultLineFormat,
                                      std::string_view entryLineFormat) {
    if (!defaultKeyword.empty())
        text += fmt::format(fmt::runtime(defaultLineFormat), defaultKeyword) + "\n";
    for (const PaperEntry& paper : papers) {
        text += fmt::format(fmt::runtime(entryLineFormat), paper.keyword, paper.title, paper.width,
                            paper.height) +
                "\n";
    }
}

bool PpdGenerator::ppdText(const Config& config, const RemotePrinterArray& printers,
                           std::string& text, std::string& error) {
    const RemotePrinter* printer = chosenPrinter(config, printers);
    std::vector<PaperEntry> papers = {kFallbackPaper};
    std::vector<BinEntry> bins;
    if (printer != nullptr && printer->papers().count() > 0) {
        papers = paperEntries(*printer, config);
        if (papers.empty()) {
            error = "The printer offers no paper that can be used";
            return false;
        }
    }
    if (printer != nullptr)
        bins = binEntries(*printer);
    std::vector<PaperEntry> defaultCandidates;
    std::copy_if(papers.begin(), papers.end(), std::back_inserter(defaultCandidates),
                 [](const PaperEntry& paper) { return !namesCustomSize(paper.keyword); });
    if (defaultCandidates.empty()) {
        error = "The printer offers no paper that can be the default";
        return false;
    }
    const std::string defaultPaper =
        defaultKeywordAmong(defaultCandidates, config.defaultPaperFormat());

    text = kHeader;
    if (!bins.empty())
        appendInputSlots(text, bins, defaultKeywordAmong(bins, config.defaultBinCode()));
    text += "\n*OpenUI *PageSize/Page Size: PickOne\n*OrderDependency: 100 AnySetup *PageSize\n";
    appendPaperEntries(text, papers, defaultPaper, "*DefaultPageSize: {}",
                       "*PageSize {}/{}: \"<</PageSize[{} {}]/ImagingBBox null>>setpagedevice\"");
    text += "*CloseUI: *PageSize\n";
    text +=
        "\n*OpenUI *PageRegion/Page Region: PickOne\n"
        "*OrderDependency: 100 AnySetup *PageRegion\n";
    appendPaperEntries(
        text, papers, defaultPaper, "*DefaultPageRegion: {}",
        "*PageRegion {}/{}: \"<</PageRegion[{} {}]/ImagingBBox null>>setpagedevice\"");
    text += "*CloseUI: *PageRegion\n";
    appendPaperEntries(text, papers, defaultPaper, "*DefaultImageableArea: {}",
                       "*ImageableArea {}/{}: \"0 0 {} {}\"");
    appendPaperEntries(text, papers, defaultPaper, "*DefaultPaperDimension: {}",
                       "*PaperDimension {}/{}: \"{} {}\"");
    text += "\n*CloseGroup: General\n";
    text += kRasterTail;
    return true;
}

bool PpdGenerator::generatePPDFile(const Config& config, const RemotePrinterArray& printers,
                                   std::string& error) {
    const std::filesystem::path path = config.getPPDFileName();
    if (path.empty()) {
        error = "Invalid user name \"" + config.currentUserName() + "\"";
        return false;
    }
    std::string text;
    if (!ppdText(config, printers, text, error))
        return false;
    return writeFileAtomically(path, text, error, 0644);
}

}  // namespace velmora::console
