#pragma once

#include "core/account/Person.h"
#include "core/model/Printer.h"

#include <pugixml.hpp>

namespace velmora {

// A printer that another user shares, as the service describes it.
class RemotePrinter : public Printer {
  public:
    RemotePrinter() = default;

    // Reads the service's "printer" element. Parts that are missing keep their values, except
    // the id and stamp (empty), the online state (false) and, when "details" is present, the
    // paper and bin lists (emptied first) and the landscape value (0).
    void parseServerXml(pugi::xml_node element);

    bool online() const { return online_; }
    void setOnline(bool online) { online_ = online; }

    // The user who shares the printer; empty until the service names one.
    const Person& owner() const { return owner_; }
    Person& owner() { return owner_; }

  private:
    Person owner_;
    bool online_ = false;
};

}  // namespace velmora
