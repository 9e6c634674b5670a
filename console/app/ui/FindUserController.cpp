#include "console/app/ui/FindUserController.h"

#include <QHeaderView>

#include "console/app/ui/PlainText.h"
#include "console/app/ui/TableColumn.h"
#include "console/app/ui/Translation.h"
#include "console/service/ConsoleInetProvider.h"

namespace velmora::console {

FindUserController::FindUserController(ConsoleInetProvider& inetProvider,
                                       const Translation& translation,
                                       std::function<void(const Person&)> addPerson)
    : inetProvider_(inetProvider),
      translation_(translation),
      add_(std::move(addPerson)),
      alert_(*this) {
    usePlainText({&lNoResults});
    tvUsers.setModel(&model_);
    tvUsers.setSelectionBehavior(QAbstractItemView::SelectRows);
    tvUsers.setSelectionMode(QAbstractItemView::SingleSelection);
    tvUsers.setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvUsers.verticalHeader()->hide();
    tvUsers.horizontalHeader()->setStretchLastSection(true);
    progress.setRange(0, 0);
    progress.setMaximumWidth(80);
    bottom.addWidget(&lNoResults);
    bottom.addWidget(&progress);
    bottom.addStretch(1);
    bottom.addWidget(&btnAdd);
    bottom.setContentsMargins(0, 0, 0, 0);
    layout.addWidget(&searchField);
    layout.addWidget(&tvUsers, 1);
    layout.addLayout(&bottom);
    setLayout(&layout);
    resize(560, 340);
    translate();
    btnAdd.setEnabled(false);
    lNoResults.hide();
    progress.hide();
    connect(&searchField, &RightSearchField::searchRequested, this,
            [this] { searchField_Changed(); });
    connect(&btnAdd, &QPushButton::clicked, this, [this] { add(); });
    connect(&tvUsers, &QTableView::doubleClicked, this, [this] { add(); });
    connect(tvUsers.selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { tableViewSelectionDidChange(); });
}

void FindUserController::translate() {
    setWindowTitle(QStringLiteral("Find user"));
    lNoResults.setText(QStringLiteral("Nothing found"));
    btnAdd.setText(QStringLiteral("Add"));
    translation_.group({{this, "Caption"}, {&lNoResults, "NoResults"}, {&btnAdd, "Add"}},
                       "FindUserDlg");
    const std::pair<int, const char*> columns[] = {{PersonTableModel::kLogin, "UserId"},
                                                   {PersonTableModel::kNick, "NickName"},
                                                   {PersonTableModel::kName, "FullName"},
                                                   {PersonTableModel::kLocation, "Location"}};
    for (const auto& [column, key] : columns)
        translation_.control(TableColumn{&model_, column}, "FindUserDlg", key);
}

void FindUserController::searchField_Changed() {
    if (searchField.text().isEmpty())
        return;
    model_.setRows({});
    progress.show();
    search();
    progress.hide();
    tableViewSelectionDidChange();
}

void FindUserController::search() {
    std::vector<Person> found;
    std::string error;
    if (!inetProvider_.searchUsers(searchField.text().toStdString(), found, error)) {
        alert_.show(QString::fromStdString(error), QString(),
                    translation_.qtext("Common", "OK", "OK"));
        return;
    }
    lNoResults.setVisible(found.empty());
    model_.setRows(std::move(found));
}

int FindUserController::selectedRow() const {
    const QModelIndexList rows = tvUsers.selectionModel()->selectedRows();
    if (rows.size() != 1 || rows.front().row() >= static_cast<int>(model_.rows().size()))
        return -1;
    return rows.front().row();
}

void FindUserController::tableViewSelectionDidChange() {
    btnAdd.setEnabled(selectedRow() >= 0);
}

void FindUserController::add() {
    const int row = selectedRow();
    if (row >= 0 && add_)
        add_(model_.rows()[static_cast<size_t>(row)]);
}

}  // namespace velmora::console
