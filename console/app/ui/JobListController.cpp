#include "console/app/ui/JobListController.h"

#include <QHeaderView>
#include <QItemSelectionModel>

#include <algorithm>
#include <string>

#include "console/app/ui/PlainText.h"
#include "console/app/ui/TableColumn.h"
#include "console/app/ui/Translation.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/ConsoleInetProvider.h"
#include "core/model/PrinterMasks.h"
#include "core/xml/XmlHelpers.h"

namespace velmora::console {
namespace {

// The status the service is told for a job the user refused.
constexpr int kReportRejected = -2;

bool isPrintable(const Job& job) {
    return job.status() == Job::kWaiting || job.status() == Job::kReady ||
           job.status() == Job::kError;
}

}  // namespace

JobListController::JobListController(Collaborators with, Delegate delegate, QWidget* parent)
    : QDialog(parent),
      layout(this),
      with_(with),
      delegate_(std::move(delegate)),
      model_(with.jobs, with.config, with.localPrinters, with.translation),
      alert_(*this) {
    tvJobs.setModel(&model_);
    tvJobs.setSelectionBehavior(QAbstractItemView::SelectRows);
    tvJobs.setSelectionMode(QAbstractItemView::ExtendedSelection);
    tvJobs.setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvJobs.verticalHeader()->hide();
    tvJobs.setWordWrap(false);
    tvJobs.horizontalHeader()->setStretchLastSection(true);
    usePlainText({&lStatus});
    layout.addWidget(&tvJobs);
    layout.addWidget(&lStatus);
    for (QPushButton* button :
         {&btnPrint, &btnPrintDialog, &btnReject, &btnAddSender, &btnFilter, &btnCheckNow})
        buttons.addWidget(button);
    layout.addLayout(&buttons);
    // A bottom border below the buttons.
    layout.setContentsMargins(layout.contentsMargins().left(), layout.contentsMargins().top(),
                              layout.contentsMargins().right(), 20);
    connect(&btnPrint, &QPushButton::clicked, this, [this] { btnPrint_Clicked(); });
    connect(&btnPrintDialog, &QPushButton::clicked, this, [this] { btnPrintDialog_Clicked(); });
    connect(&btnReject, &QPushButton::clicked, this, [this] { btnReject_Clicked(); });
    connect(&btnAddSender, &QPushButton::clicked, this, [this] { btnAddSender_Clicked(); });
    connect(&btnFilter, &QPushButton::clicked, this, [this] { btnFilter_Clicked(); });
    connect(&btnCheckNow, &QPushButton::clicked, this, [this] { btnCheckNow_Clicked(); });
    connect(tvJobs.selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { selectionChanged(); });
    translate();
    resize(720, 360);
    reloadData();
    with_.jobs.addDelegate(this);
    with_.processor.addDelegate(this);
}

JobListController::~JobListController() {
    // The sheet goes with this window; its ending must not call back into a window half gone.
    if (jobPasswordController_)
        jobPasswordController_->disconnect(this);
    with_.jobs.removeDelegate(this);
    with_.processor.removeDelegate(this);
}

void JobListController::translate() {
    setWindowTitle(QStringLiteral("Jobs"));
    btnPrint.setText(QStringLiteral("Print"));
    btnPrintDialog.setText(QStringLiteral("Print..."));
    btnReject.setText(QStringLiteral("Reject"));
    btnAddSender.setText(QStringLiteral("Sender"));
    btnFilter.setText(QStringLiteral("Filter"));
    btnCheckNow.setText(QStringLiteral("Check now"));
    const Translation& translation = with_.translation;
    translation.control(this, "JobListDlg", "Caption");
    const std::pair<int, const char*> columns[] = {
        {JobTableModel::kTime, "Time"},     {JobTableModel::kPrinter, "Printer"},
        {JobTableModel::kSender, "Sender"}, {JobTableModel::kDocument, "Document"},
        {JobTableModel::kPages, "Pages"},   {JobTableModel::kStatus, "Status"}};
    for (const auto& [column, key] : columns)
        translation.control(TableColumn{&model_, column}, "JobListDlg", key);
    translation.group({{&btnPrint, "Print"},
                       {&btnPrintDialog, "AdvancedPrint"},
                       {&btnReject, "Reject"},
                       {&btnAddSender, "Sender"},
                       {&btnFilter, "Filter"},
                       {&btnCheckNow, "CheckNow"}},
                      "JobListDlg");
}

void JobListController::reloadData() {
    const std::vector<JobTableModel::JobKey> selected = selectedJobs();
    model_.reload();
    selectJobs(selected);
    selectionChanged();
    closeOrphanedSheet();
}

void JobListController::jobArray_Changed(int /*added*/) {
    reloadData();
}

void JobListController::processor_ChangedJob(const Job& /*job*/) {
    reloadData();
}

std::vector<JobTableModel::JobKey> JobListController::selectedJobs() const {
    std::vector<JobTableModel::JobKey> keys;
    QModelIndexList rows = tvJobs.selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& row : rows) {
        if (row.row() < model_.rowCount())
            keys.push_back(model_.keyAt(row.row()));
    }
    return keys;
}

void JobListController::selectJobs(const std::vector<JobTableModel::JobKey>& keys) {
    QItemSelection selection;
    for (const JobTableModel::JobKey& key : keys) {
        const int row = model_.rowOf(key);
        if (row >= 0)
            selection.select(model_.index(row, 0),
                             model_.index(row, JobTableModel::kColumnCount - 1));
    }
    tvJobs.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void JobListController::selectionChanged() {
    QString status;
    bool printable = false;
    int selected = 0;
    for (const JobTableModel::JobKey& key : selectedJobs()) {
        const Job* job = with_.jobs.findJob(key.first, key.second);
        if (job == nullptr)
            continue;
        status = QString::fromStdString(job->error());
        printable = (selected == 0 || printable) && isPrintable(*job);
        ++selected;
    }
    lStatus.setText(status);
    btnPrint.setEnabled(printable);
    btnReject.setEnabled(printable);
    btnPrintDialog.setEnabled(printable && selected == 1);
    btnAddSender.setEnabled(selected == 1);
}

void JobListController::closeOrphanedSheet() {
    if (!jobPasswordController_)
        return;
    const JobTableModel::JobKey& key = jobPasswordController_->job();
    const Job* job = with_.jobs.findJob(key.first, key.second);
    if (job == nullptr || job->status() == Job::kRejected)
        jobPasswordController_->done(0);
}

void JobListController::printFromButton(bool dialog) {
    for (const JobTableModel::JobKey& key : selectedJobs()) {
        // Checked again per job: an earlier one's sheet or dispatch may have moved it on.
        if (Job* job = with_.jobs.findJob(key.first, key.second); job && isPrintable(*job))
            print(*job, dialog);
    }
}

void JobListController::print(Job& job, bool dialog) {
    job.setShowDialog(dialog);
    const JobTableModel::JobKey key = JobTableModel::keyOf(job);
    if (job.status() == Job::kError)
        with_.processor.setStatus(Job::kWaiting, key.first, key.second);
    Job* listed = with_.jobs.findJob(key.first, key.second);
    if (listed == nullptr)
        return;
    if (listed->encryption() != 0 && listed->encryption() != kEncryptionAes0 &&
        listed->encryptKey().empty()) {
        // One sheet at a time; a second job asking for its password waits for the next click.
        if (jobPasswordController_)
            return;
        jobPasswordController_.reset(new JobPasswordController(
            *listed, with_.jobs, with_.inetProvider, with_.translation, this));
        connect(jobPasswordController_.get(), &QDialog::finished, this,
                [this](int result) { sheetDidEnd(result); });
        jobPasswordController_->setWindowModality(Qt::WindowModal);
        jobPasswordController_->open();
        return;
    }
    listed->setApproved(true);
    with_.processor.dispatchJobs();
}

void JobListController::sheetDidEnd(int returnCode) {
    if (!jobPasswordController_)
        return;
    const JobTableModel::JobKey key = jobPasswordController_->job();
    jobPasswordController_->hide();
    jobPasswordController_.reset();
    if (returnCode != 1)
        return;
    if (Job* job = with_.jobs.findJob(key.first, key.second)) {
        job->setApproved(true);
        with_.processor.dispatchJobs();
    }
}

void JobListController::btnReject_Clicked() {
    for (const JobTableModel::JobKey& key : selectedJobs()) {
        // A job a worker holds is never taken from under it: its folder is in use.
        if (Job* job = with_.jobs.findJob(key.first, key.second); job && isPrintable(*job))
            reject(*job);
    }
}

void JobListController::reject(Job& job) {
    const JobTableModel::JobKey key = JobTableModel::keyOf(job);
    const std::filesystem::path jobDir = job.getJobDir();
    if (!job.isPTP()) {
        std::string error;
        if (!with_.inetProvider.changeJob(key.second, kReportRejected, error)) {
            alert_.show(QString::fromStdString(error), QString(),
                        with_.translation.qtext("Common", "OK", "OK"));
            return;
        }
    }
    // The service call blocks and the state change reaches every delegate: look the job up
    // again after each.
    with_.processor.setStatus(Job::kRejected, key.first, key.second);
    if (Job* listed = with_.jobs.findJob(key.first, key.second))
        with_.jobs.clearNewForJob(*listed);
    with_.config.saveProfileConfig();
    if (!removeFlatDirectory(jobDir))
        alert_.show(QStringLiteral("Failed to remove job dir"), QString(),
                    with_.translation.qtext("Common", "OK", "OK"));
}

void JobListController::addSender() {
    const std::vector<JobTableModel::JobKey> keys = selectedJobs();
    if (keys.size() != 1 || !delegate_.jobListController_AddSender)
        return;
    if (const Job* job = with_.jobs.findJob(keys.front().first, keys.front().second))
        delegate_.jobListController_AddSender(job->sender());
}

void JobListController::btnFilter_Clicked() {
    if (!jobFilterController_) {
        jobFilterController_ = std::make_unique<JobFilterController>(
            with_.config, with_.translation, [this] { jobFilterController_Changed(); }, this);
        jobFilterController_->setWindowFlag(Qt::Window);
    }
    jobFilterController_->fillRows();
    jobFilterController_->show();
    jobFilterController_->raise();
}

void JobListController::btnCheckNow_Clicked() {
    if (delegate_.jobListController_CheckNow)
        delegate_.jobListController_CheckNow();
}

}  // namespace velmora::console
