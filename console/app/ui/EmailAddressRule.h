#pragma once

#include <QString>

namespace velmora::console {

// Whether a text is an e-mail address the service accepts: words of letters, digits, '-' and
// '_', joined by single dots, one '@', and at least one dot after it. Letters of either case.
class EmailAddressRule {
  public:
    static bool isValid(const QString& text);
};

}  // namespace velmora::console
