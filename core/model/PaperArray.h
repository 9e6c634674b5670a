#pragma once

#include "core/model/Paper.h"

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora {

// The papers of a printer, in the order the printer lists them.
class PaperArray {
  public:
    size_t count() const { return array_.size(); }
    // Throws std::out_of_range for an index outside the list.
    const Paper& objectAtIndex(size_t index) const { return array_.at(index); }
    Paper& objectAtIndex(size_t index) { return array_.at(index); }
    void addObject(Paper paper) { array_.push_back(std::move(paper)); }
    void removeAllObjects() { array_.clear(); }

    // The first paper with that format, or nullptr.
    const Paper* getPaper(std::string_view format) const;
    Paper* getPaper(std::string_view format);

    const std::vector<Paper>& array() const { return array_; }
    auto begin() const { return array_.begin(); }
    auto end() const { return array_.end(); }

  private:
    std::vector<Paper> array_;
};

}  // namespace velmora
