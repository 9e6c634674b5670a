#include "console/app/ui/WebAddress.h"

#include <QDesktopServices>

namespace velmora::console {

namespace {
// Longer than any page address the service has reason to send.
constexpr size_t kMaxLength = 2048;
}  // namespace

std::optional<QUrl> WebAddress::parse(std::string_view text) {
    if (text.empty() || text.size() > kMaxLength)
        return std::nullopt;
    const QString address = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    for (const QChar c : address) {
        if (c.category() == QChar::Other_Control || c.isSpace())
            return std::nullopt;
    }
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() ||
        (scheme != QStringLiteral("https") && scheme != QStringLiteral("http")))
        return std::nullopt;
    return url;
}

bool WebAddress::open(std::string_view text) {
    const std::optional<QUrl> url = parse(text);
    return url && QDesktopServices::openUrl(*url);
}

}  // namespace velmora::console
