#pragma once

class QAbstractItemModel;

namespace velmora::console {

// A column of a table whose header text a translation may replace; the model stores the text
// through setHeaderData.
struct TableColumn {
    QAbstractItemModel* model = nullptr;
    int column = 0;
};

}  // namespace velmora::console
