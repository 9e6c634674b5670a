#include "console/app/ui/MaxLenFormatter.h"

namespace velmora::console {

MaxLenFormatter::MaxLenFormatter(int maxLength, QObject* parent)
    : QValidator(parent), maxLength_(maxLength) {}

QValidator::State MaxLenFormatter::validate(QString& input, int&) const {
    return input.size() > maxLength_ ? Invalid : Acceptable;
}

}  // namespace velmora::console
