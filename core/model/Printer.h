#pragma once

#include "core/model/BinArray.h"
#include "core/model/PaperArray.h"

#include <pugixml.hpp>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace velmora {

// A printer as users share it through the service: the part common to the printers of this
// computer and the remote printers of other users.
class Printer {
  public:
    // More than any real printer offers; a description that lists more is cut there.
    static constexpr size_t kMaxPapers = 500;
    static constexpr size_t kMaxBins = 100;

    // A new printer gets a fresh random identity (lower-case UUID text).
    Printer();
    Printer(const Printer&) = default;
    Printer(Printer&&) = default;
    Printer& operator=(const Printer&) = default;
    Printer& operator=(Printer&&) = default;
    virtual ~Printer() = default;

    static std::string newPublicId();

    const std::string& publicId() const { return publicId_; }
    void setPublicId(std::string publicId) { publicId_ = std::move(publicId); }
    const std::string& shareTitle() const { return shareTitle_; }
    void setShareTitle(std::string shareTitle) { shareTitle_ = std::move(shareTitle); }
    const std::string& location() const { return location_; }
    void setLocation(std::string location) { location_ = std::move(location); }
    const std::string& updateDate() const { return updateDate_; }
    void setUpdateDate(std::string updateDate) { updateDate_ = std::move(updateDate); }
    bool packing() const { return packing_; }
    void setPacking(bool packing) { packing_ = packing; }
    int encryptMask() const { return encryptMask_; }
    void setEncryptMask(int mask) { encryptMask_ = mask; }
    int transportMask() const { return transportMask_; }
    void setTransportMask(int mask) { transportMask_ = mask; }
    int landscape() const { return landscape_; }
    void setLandscape(int landscape) { landscape_ = landscape; }
    bool collate() const { return collate_; }
    void setCollate(bool collate) { collate_ = collate; }
    bool color() const { return color_; }
    void setColor(bool color) { color_ = color; }
    int duplex() const { return duplex_; }
    void setDuplex(int duplex) { duplex_ = duplex; }
    int copies() const { return copies_; }
    void setCopies(int copies) { copies_ = copies; }
    const BinArray& bins() const { return bins_; }
    BinArray& bins() { return bins_; }
    void setBins(BinArray bins) { bins_ = std::move(bins); }
    const PaperArray& papers() const { return papers_; }
    PaperArray& papers() { return papers_; }
    void setPapers(PaperArray papers) { papers_ = std::move(papers); }

    // The full "printer" element the sharing side sends: attribute "hidden", children
    // "public-id", "title", "location", "details". `defaultPaperName` is the name of the
    // computer's default paper, written only when the printer has papers.
    pugi::xml_node appendServerXml(pugi::xml_node parent, bool hidden,
                                   std::string_view defaultPaperName) const;
    // The "details" child alone: "capabilities", "landscape" (when not 0), "paper-formats"
    // (when there are papers), "bins" (when there are bins).
    pugi::xml_node appendDetailsXml(pugi::xml_node printer,
                                    std::string_view defaultPaperName) const;

  protected:
    // Reads the children of a "details" element into the papers, bins and capabilities.
    void parseDetails(pugi::xml_node details);

  private:
    void parseCapabilities(pugi::xml_node capabilities);

    std::string publicId_;
    std::string shareTitle_;
    std::string location_;
    std::string updateDate_;
    bool packing_ = false;
    int encryptMask_ = 0;
    int transportMask_ = 0;
    int landscape_ = 90;
    bool collate_ = true;
    bool color_ = true;
    int duplex_ = 0;
    int copies_ = 10;
    BinArray bins_;
    PaperArray papers_;
};

}  // namespace velmora
