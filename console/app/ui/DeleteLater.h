#pragma once

#include <QObject>

#include <memory>

namespace velmora::console {

// Owns a window that may be let go of from inside one of its own signals: it is deleted once
// control is back in the event loop (or with its parent, whichever comes first).
struct DeleteLater {
    void operator()(QObject* object) const {
        if (object != nullptr)
            object->deleteLater();
    }
};

template <typename T>
using LaterPtr = std::unique_ptr<T, DeleteLater>;

}  // namespace velmora::console
