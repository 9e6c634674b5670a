#include "console/app/ui/FindPrinterController.h"

#include <QHeaderView>

#include "console/app/ui/PlainText.h"
#include "console/app/ui/TableColumn.h"
#include "console/app/ui/Translation.h"
#include "console/service/ConsoleInetProvider.h"
#include "core/model/RemotePrinterArray.h"

namespace velmora::console {

FindPrinterController::FindPrinterController(ConsoleInetProvider& inetProvider,
                                             const Translation& translation,
                                             std::function<void()> added)
    : inetProvider_(inetProvider),
      translation_(translation),
      added_(std::move(added)),
      alert_(*this) {
    usePlainText({&lNoResults});
    tvPrinters.setModel(&model_);
    tvPrinters.setSelectionBehavior(QAbstractItemView::SelectRows);
    tvPrinters.setSelectionMode(QAbstractItemView::SingleSelection);
    tvPrinters.setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvPrinters.verticalHeader()->hide();
    tvPrinters.horizontalHeader()->setStretchLastSection(true);
    progress.setRange(0, 0);
    progress.setMaximumWidth(80);
    bottom.addWidget(&lNoResults);
    bottom.addWidget(&progress);
    bottom.addStretch(1);
    bottom.addWidget(&btnAdd);
    bottom.setContentsMargins(0, 0, 0, 0);
    layout.addWidget(&searchField);
    layout.addWidget(&cbOnline);
    layout.addWidget(&tvPrinters, 1);
    layout.addLayout(&bottom);
    setLayout(&layout);
    resize(640, 360);
    translate();
    btnAdd.setEnabled(false);
    lNoResults.hide();
    progress.hide();
    connect(&searchField, &RightSearchField::searchRequested, this,
            [this] { searchField_Changed(); });
    connect(&btnAdd, &QPushButton::clicked, this, [this] { like(); });
    connect(&tvPrinters, &QTableView::doubleClicked, this, [this] { like(); });
    connect(tvPrinters.selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { tableViewSelectionDidChange(); });
}

void FindPrinterController::translate() {
    setWindowTitle(QStringLiteral("Find printer"));
    lNoResults.setText(QStringLiteral("Nothing found"));
    btnAdd.setText(QStringLiteral("Add"));
    cbOnline.setText(QStringLiteral("Online printers only"));
    translation_.group({{this, "Caption"},
                        {&lNoResults, "NoResults"},
                        {&btnAdd, "Add"},
                        {&cbOnline, "OnlinePrinters"}},
                       "FindPrinterDlg");
    const std::pair<int, const char*> columns[] = {{FoundPrinterTableModel::kStatus, "Status"},
                                                   {FoundPrinterTableModel::kOwner, "Owner"},
                                                   {FoundPrinterTableModel::kOwnerId, "UserId"},
                                                   {FoundPrinterTableModel::kLocation, "Location"},
                                                   {FoundPrinterTableModel::kCountry, "Land"},
                                                   {FoundPrinterTableModel::kPrinter, "Printer"}};
    for (const auto& [column, key] : columns)
        translation_.control(TableColumn{&model_, column}, "FindPrinterDlg", key);
}

void FindPrinterController::searchField_Changed() {
    if (searchField.text().isEmpty())
        return;
    progress.show();
    search();
    progress.hide();
    tableViewSelectionDidChange();
}

void FindPrinterController::search() {
    RemotePrinterArray found;
    std::string error;
    if (!inetProvider_.searchPrinters(searchField.text().toStdString(), cbOnline.isChecked(), found,
                                      error)) {
        alert_.show(QString::fromStdString(error), QString(),
                    translation_.qtext("Common", "OK", "OK"));
        return;
    }
    std::vector<std::shared_ptr<RemotePrinter>> rows;
    rows.reserve(found.count());
    for (size_t index = 0; index < found.count(); ++index)
        rows.push_back(found.objectAtIndex(index));
    lNoResults.setVisible(rows.empty());
    model_.setRows(std::move(rows));
}

int FindPrinterController::selectedRow() const {
    const QModelIndexList rows = tvPrinters.selectionModel()->selectedRows();
    if (rows.size() != 1 || rows.front().row() >= static_cast<int>(model_.rows().size()))
        return -1;
    return rows.front().row();
}

void FindPrinterController::tableViewSelectionDidChange() {
    btnAdd.setEnabled(selectedRow() >= 0);
}

void FindPrinterController::like() {
    const int row = selectedRow();
    if (row < 0)
        return;
    std::string error;
    if (!inetProvider_.likePrinter(model_.rows()[static_cast<size_t>(row)]->publicId(), error)) {
        alert_.show(QString::fromStdString(error), QString(),
                    translation_.qtext("Common", "OK", "OK"));
        return;
    }
    if (added_)
        added_();
}

}  // namespace velmora::console
