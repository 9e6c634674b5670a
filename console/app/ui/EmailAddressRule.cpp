#include "console/app/ui/EmailAddressRule.h"

namespace velmora::console {

namespace {

bool isWordCharacter(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'-' || u == u'_';
}

}  // namespace

bool EmailAddressRule::isValid(const QString& text) {
    const QString address = text.toLower();
    if (address.isEmpty() || !isWordCharacter(address.front()))
        return false;
    int atSigns = 0;
    bool dotAfterAt = false;
    for (qsizetype i = 0; i < address.size(); ++i) {
        const QChar c = address[i];
        if (isWordCharacter(c))
            continue;
        if (c != u'.' && c != u'@')
            return false;
        // A separator needs a word after it: no "..", ".@", "@.", and none at the end.
        if (i + 1 == address.size() || !isWordCharacter(address[i + 1]))
            return false;
        if (c == u'@')
            ++atSigns;
        else if (atSigns > 0)
            dotAfterAt = true;
    }
    return atSigns == 1 && dotAfterAt;
}

}  // namespace velmora::console
