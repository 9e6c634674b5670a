#pragma once

#include "core/model/RemotePrinter.h"

#include <pugixml.hpp>

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora {

// The remote printers of one list (the user's favourites, a search result). Printers are shared
// with the windows that show or set them up, so they stay valid while the list is merged.
// Look-ups go through an index by public id, so merging a long list costs no more than reading
// it; a listed printer's id is changed only by the list's own merging.
class RemotePrinterArray {
  public:
    // No user shares or likes this many printers; a reply that lists more is cut there.
    static constexpr size_t kMaxPrinters = 5000;

    size_t count() const { return array_.size(); }
    // Throws std::out_of_range for an index outside the list.
    const std::shared_ptr<RemotePrinter>& objectAtIndex(size_t index) const {
        return array_.at(index);
    }
    // Indexes outside the list are ignored.
    void removeObjectAtIndex(size_t index);
    void removeObject(const RemotePrinter* printer);
    void removeAllObjects();

    // The printer with that public id (merging keeps ids unique in the list); nullptr when none.
    std::shared_ptr<RemotePrinter> getPrinter(std::string_view publicId) const;

    // Merges the "printer" children of a container ("favorites", a "response"). Not
    // incremental: the list is emptied first. A known printer is updated in place and keeps its
    // position; an unknown one is appended. The container's "default" attribute becomes the
    // default printer id. No container: only the emptying happens. New printers beyond
    // kMaxPrinters are left out; the result is false when that happened.
    bool parse(pugi::xml_node container, bool incremental);
    // Removes the printers named by the "printer" children of a container ("dislike").
    void remove(pugi::xml_node container);

    const std::string& defaultPrinterId() const { return defaultPrinterId_; }
    void setDefaultPrinterId(std::string publicId) { defaultPrinterId_ = std::move(publicId); }

    const std::vector<std::shared_ptr<RemotePrinter>>& array() const { return array_; }
    auto begin() const { return array_.begin(); }
    auto end() const { return array_.end(); }

  private:
    void forget(const RemotePrinter& printer);

    std::vector<std::shared_ptr<RemotePrinter>> array_;
    // An ordered map: a hostile list cannot degrade it the way it could collide hashes.
    std::map<std::string, std::shared_ptr<RemotePrinter>, std::less<>> byId_;
    std::string defaultPrinterId_;
};

}  // namespace velmora
