#pragma once

#include "core/model/Bin.h"

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora {

// The bins of a printer, in the order the printer lists them.
class BinArray {
  public:
    size_t count() const { return array_.size(); }
    // Throws std::out_of_range for an index outside the list.
    const Bin& objectAtIndex(size_t index) const { return array_.at(index); }
    Bin& objectAtIndex(size_t index) { return array_.at(index); }
    void addObject(Bin bin) { array_.push_back(std::move(bin)); }
    void removeAllObjects() { array_.clear(); }

    // The first bin with that code, or nullptr.
    const Bin* getBin(std::string_view code) const;
    Bin* getBin(std::string_view code);

    const std::vector<Bin>& array() const { return array_; }
    auto begin() const { return array_.begin(); }
    auto end() const { return array_.end(); }

  private:
    std::vector<Bin> array_;
};

}  // namespace velmora
