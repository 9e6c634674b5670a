#include "console/app/ui/ServerAddress.h"

#include <QRegularExpression>
#include <QUrl>

namespace velmora::console {

namespace {

bool hasScheme(const QString& text) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return scheme.match(text).hasMatch();
}

bool holdsSpaceOrControl(const QString& text) {
    for (QChar c : text) {
        if (c.isSpace() || c.category() == QChar::Other_Control ||
            c.category() == QChar::Other_Format)
            return true;
    }
    return false;
}

}  // namespace

bool ServerAddress::fromTyped(const QString& typed, QString& address, QString& error) {
    QString text = typed.trimmed();
    if (text.isEmpty()) {
        error = QStringLiteral("Please enter the server address.");
        return false;
    }
    if (text.size() > kMaxLength) {
        error = QStringLiteral("The server address is too long.");
        return false;
    }
    if (text.contains(u',')) {
        error = QStringLiteral("A server address cannot contain a comma.");
        return false;
    }
    if (holdsSpaceOrControl(text)) {
        error = QStringLiteral("A server address cannot contain spaces or control characters.");
        return false;
    }
    if (!hasScheme(text))
        text = QStringLiteral("https://") + text;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (scheme != QStringLiteral("https") && scheme != QStringLiteral("http")) {
        error = QStringLiteral("Only http:// and https:// server addresses are supported.");
        return false;
    }
    if (!url.isValid() || url.host().isEmpty()) {
        error = QStringLiteral("The server address is not valid.");
        return false;
    }
    while (text.endsWith(u'/'))
        text.chop(1);
    address = text;
    return true;
}

QString ServerAddress::ofService(const QString& service) {
    const QString text = hasScheme(service) ? service : QStringLiteral("https://") + service;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    return url
        .adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery |
                  QUrl::RemoveFragment)
        .toString();
}

QString ServerAddress::endpoint(const QString& address) {
    return address + QStringLiteral("/tdService.asmx");
}

}  // namespace velmora::console
