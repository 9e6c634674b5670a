#pragma once

#include <QChar>
#include <QLabel>
#include <QString>

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

// Such text can be any length; laid out whole, a long one freezes the window. At most
// `maxLength` characters, the last one "…" when the text was cut.
inline QString shortenedForDisplay(const QString& text, qsizetype maxLength) {
    if (text.size() <= maxLength)
        return text;
    qsizetype end = maxLength - 1;
    // Never between the two halves of a surrogate pair.
    if (text[end].isLowSurrogate())
        --end;
    return text.left(end) + QChar(0x2026);
}

}  // namespace velmora::console
