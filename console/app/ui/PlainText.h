#pragma once

#include <QChar>
#include <QLabel>
#include <QString>

#include <initializer_list>
#include <string>

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

// Longer than any name or title a person types; a megabyte one, laid out whole, stalls every
// repaint of its table.
constexpr qsizetype kMaxRowTextLength = 1000;

// A name or title from another user for one table row: shortened, and every character Qt lays out
// as a line break (or that is a control character) shown as a blank, so the row stays one line.
inline QString oneLineForDisplay(const std::string& text, qsizetype maxLength = kMaxRowTextLength) {
    QString line = shortenedForDisplay(QString::fromStdString(text), maxLength);
    for (QChar& character : line) {
        const QChar::Category category = character.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph)
            character = QLatin1Char(' ');
    }
    return line;
}

}  // namespace velmora::console
