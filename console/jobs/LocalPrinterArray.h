#pragma once

#include "console/jobs/LocalPrinter.h"
#include "console/service/ProfileSection.h"

#include <pugixml.hpp>

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::console {

// The printers of this computer's print system, with the sharing identity the user gave each.
//
// Everything runs on the main thread except getPrinter, which the print worker calls: it hands
// out a copy taken under the list's lock, so a rebuild never pulls a printer from under it.
class LocalPrinterArray : public ProfileSection {
  public:
    // `printServer`: the scheduler to ask ("" for the system's own; a socket path or host name).
    explicit LocalPrinterArray(std::string printServer = "");
    LocalPrinterArray(const LocalPrinterArray&) = delete;
    LocalPrinterArray& operator=(const LocalPrinterArray&) = delete;

    size_t count() const;
    // A copy; throws std::out_of_range for an index outside the list.
    LocalPrinter objectAtIndex(size_t index) const;
    // The last printer with that public id, as a copy; safe from any thread.
    std::optional<LocalPrinter> getPrinter(std::string_view publicId) const;
    // A copy of the whole list, in the print system's order.
    std::vector<LocalPrinter> allPrinters() const;
    // Changes the printer with that local title (share title, hidden flag, ...); false when
    // none has it.
    template <typename Change>
    bool updatePrinter(std::string_view localTitle, Change&& change) {
        std::lock_guard lock(mutex_);
        for (LocalPrinter& printer : printers_) {
            if (printer.localTitle() == localTitle) {
                change(printer);
                return true;
            }
        }
        return false;
    }

    // Re-reads the printers from the print system; every printer gets a fresh public id until
    // updateFromConfig gives it its saved one. False, with an empty list, when the print system
    // cannot list printers.
    bool loadFromSystem();

    // ProfileSection: the printers' sharing identities.
    void updateFromConfig(pugi::xml_node section) override;
    void saveToConfig(pugi::xml_node root) const override;

    // "lookup" with one "printer"/"public-id" per printer.
    pugi::xml_node getLookupXml(pugi::xml_node parent) const;
    // "printers" with the full form of every shared printer that is not hidden.
    pugi::xml_node getPtpXml(pugi::xml_node parent) const;
    // Sets `shared` on the printers the login reply's "lookup" names; clears it on the others.
    void parseLookupXml(pugi::xml_node lookup);

  private:
    std::string printServer_;
    mutable std::mutex mutex_;
    std::vector<LocalPrinter> printers_;
};

}  // namespace velmora::console
