#include "console/app/ui/UiImages.h"

#include <QPixmap>

#include <mutex>

// A resource file in a static library is registered by a call from outside every namespace.
static void registerUiImages() {
    Q_INIT_RESOURCE(images);
}

namespace velmora::console {

namespace {

QString resourcePath(const QString& name) {
    static std::once_flag registered;
    std::call_once(registered, registerUiImages);
    return QStringLiteral(":/velmora/images/") + name + QStringLiteral(".png");
}

}  // namespace

QIcon UiImages::icon(const QString& name) {
    return QIcon(resourcePath(name));
}

QPixmap UiImages::pixmap(const QString& name) {
    return QPixmap(resourcePath(name));
}

}  // namespace velmora::console
