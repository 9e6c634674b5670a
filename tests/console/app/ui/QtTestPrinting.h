#pragma once

#include <QString>

#include <ostream>

// Failed comparisons show Qt texts as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
