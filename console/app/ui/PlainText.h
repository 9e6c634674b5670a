#pragma once

#include <QLabel>

#include <initializer_list>

namespace velmora::console {

// Labels of this console show text from the service, other users, job titles and message files:
// markup in it is shown as typed, never interpreted.
inline void usePlainText(std::initializer_list<QLabel*> labels) {
    for (QLabel* label : labels) {
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::NoTextInteraction);
    }
}

}  // namespace velmora::console
