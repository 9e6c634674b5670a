#pragma once

#include <QValidator>

namespace velmora::console {

// Keeps a text field at most `maxLength` characters long: an edit that would make it longer,
// a paste included, is refused as a whole and the field keeps its text.
class MaxLenFormatter : public QValidator {
    Q_OBJECT

  public:
    explicit MaxLenFormatter(int maxLength, QObject* parent = nullptr);

    State validate(QString& input, int& position) const override;
    int maxLength() const { return maxLength_; }

  private:
    int maxLength_;
};

}  // namespace velmora::console
