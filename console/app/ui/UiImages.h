#pragma once

#include <QIcon>
#include <QString>

namespace velmora::console {

// The console's own small images, compiled into the program.
class UiImages {
  public:
    // "cgreen", "cred", "cshared", "cunshared", "default", "search", "plane", "planeT",
    // "planeX", "premium".
    static QIcon icon(const QString& name);
    static QPixmap pixmap(const QString& name);
};

}  // namespace velmora::console
