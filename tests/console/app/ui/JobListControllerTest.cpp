#include "console/app/ui/JobListController.h"

#include <gtest/gtest.h>

#include <QtTest/QTest>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "console/app/ui/Translation.h"
#include "console/jobs/JobArray.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/jobs/Processor.h"
#include "console/jobs/QtJobPrinter.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/ConsoleInetProvider.h"
#include "core/account/PermissionArray.h"
#include "core/account/Person.h"
#include "core/model/PrinterMasks.h"
#include "core/model/RemotePrinterArray.h"
#include "platform/QtRunLoop.h"
#include "tests/console/app/ui/NoDispatch.h"
#include "tests/console/app/ui/Screenshot.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/SeededService.h"

namespace velmora::console {
namespace {

using test::RefServiceProcess;
using test::ScratchDirectory;
using test::SeededService;

constexpr int kPlainJob = 2001;
constexpr int kAesJob = 2002;
constexpr const char* kKey = "MDEyMzQ1Njc4OWFiY2RlZjAxMjM0NTY3ODlhYmNkZWY=";

// Alice sends bob two jobs: a plain one, then one whose key only she and bob know.
constexpr const char* kSeed = R"({
    "accounts": [{"login": "alice", "password": "pw", "token": "tok-alice", "id": 1, "nick": "Al"},
                 {"login": "bob", "password": "pw", "token": "tok-bob", "id": 2, "nick": "Bobby"}],
    "printers": [{"public_id": "6a0c6f64-3c8e-4d35-9d3c-2a4a1b0c9e11", "owner": "bob",
                  "title": "Laser", "shared": true, "online": true}],
    "jobs": [{"id": 2001, "sender": "alice", "printer": "6a0c6f64-3c8e-4d35-9d3c-2a4a1b0c9e11",
              "status": "ready", "document": "Plain <b>report</b>", "started": "240131120000",
              "pages": ["aGVsbG8="]},
             {"id": 2002, "sender": "alice", "printer": "6a0c6f64-3c8e-4d35-9d3c-2a4a1b0c9e11",
              "status": "ready", "document": "Secret", "started": "240131130000",
              "encrypt-method": "AES", "pages": ["aGVsbG8="],
              "key": "MDEyMzQ1Njc4OWFiY2RlZjAxMjM0NTY3ODlhYmNkZWY=", "key_password": "s3cret"}]})";

// Bob's console with its job list window, against the reference service over loopback.
class JobListControllerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        service_ = std::make_unique<SeededService>("velmora-job-list", kSeed);
    }
    static void TearDownTestSuite() { service_.reset(); }

    void SetUp() override {
        service_->post("/_ref/reset", "");
        config_.setService(service_->serviceUrl());
        config_.setToken("tok-bob");
        std::string error;
        ASSERT_TRUE(provider_.loginWithToken(error)) << error;
        ASSERT_NE(jobs_.getJob(kPlainJob), nullptr);
        ASSERT_NE(jobs_.getJob(kAesJob), nullptr);
        window_ = std::make_unique<JobListController>(
            JobListController::Collaborators{jobs_, processor_, config_, provider_, printers_,
                                             translation_},
            JobListController::Delegate{
                [this](const Person& sender) { added_.push_back(sender.serverId()); },
                [this] { ++checks_; }});
        window_->show();
    }
    void TearDown() override {
        window_.reset();
        processor_.stop();
        // Releases a worker waiting to hand back its copy, so the processor can join it.
        runLoop_.stop();
    }

    int rowOf(Job::Origin origin, int id) const { return window_->model().rowOf({origin, id}); }
    QString cell(int row, int column) const {
        const JobTableModel& model = window_->model();
        return model.data(model.index(row, column), Qt::DisplayRole).toString();
    }
    void select(std::initializer_list<int> ids) {
        window_->tvJobs.clearSelection();
        for (int id : ids)
            window_->tvJobs.selectionModel()->select(
                window_->model().index(rowOf(Job::Origin::kService, id), 0),
                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    int soapCalls(const std::string& operation, const std::string& paramPart = "") const {
        int calls = 0;
        for (const auto& entry : service_->requests("soap")) {
            if (entry.get<std::string>("operation", "") == operation &&
                entry.get<std::string>("param", "").find(paramPart) != std::string::npos)
                ++calls;
        }
        return calls;
    }
    // With the OK button, or with the Return key in the password field.
    void confirmPassword(const QString& password, bool withReturnKey = false) {
        JobPasswordController* sheet = window_->passwordSheet();
        ASSERT_NE(sheet, nullptr);
        sheet->ePassword.setText(password);
        if (withReturnKey)
            QTest::keyClick(&sheet->ePassword, Qt::Key_Return);
        else
            QTest::mouseClick(&sheet->btnOk, Qt::LeftButton);
        QApplication::processEvents();
    }

    static inline std::unique_ptr<SeededService> service_;
    ScratchDirectory profile_{"velmora-job-list-profile"};
    ConsoleConfig config_{profile_.path()};
    Translation translation_{config_};
    Person user_;
    PermissionArray permissions_;
    RemotePrinterArray remotePrinters_;
    LocalPrinterArray printers_;
    QtRunLoop runLoop_;
    JobArray jobs_{processor_, {[this] { return profile_.path(); }, [] {}}};
    ConsoleInetProvider provider_{
        config_, user_, {permissions_, remotePrinters_, printers_, jobs_}, translation_};
    QtJobPrinter printer_{runLoop_};
    Processor processor_{{runLoop_, jobs_, permissions_, printers_, provider_, printer_}};
    std::unique_ptr<JobListController> window_;
    std::vector<int> added_;
    int checks_ = 0;
};

TEST_F(JobListControllerTest, ListsTheNewestJobFirstWithItsTextsAsTyped) {
    ASSERT_EQ(window_->model().rowCount(), 2);
    EXPECT_EQ(rowOf(Job::Origin::kService, kAesJob), 0);
    EXPECT_EQ(rowOf(Job::Origin::kService, kPlainJob), 1);
    EXPECT_EQ(cell(1, JobTableModel::kDocument), QStringLiteral("Plain <b>report</b>"));
    EXPECT_EQ(cell(1, JobTableModel::kSender), QStringLiteral("Al"));
    EXPECT_EQ(cell(1, JobTableModel::kPages), QStringLiteral("1"));
    EXPECT_EQ(cell(1, JobTableModel::kStatus), QStringLiteral("Waiting"));
    EXPECT_EQ(cell(1, JobTableModel::kTime),
              QString::fromStdString(jobs_.getJob(kPlainJob)->getTextStarted()));
    // No local printer has the job's printer id.
    EXPECT_EQ(cell(1, JobTableModel::kPrinter), QString());

    processor_.setStatus(Job::kError, std::string("Disk full"), Job::Origin::kService, kPlainJob);
    EXPECT_EQ(cell(rowOf(Job::Origin::kService, kPlainJob), JobTableModel::kStatus),
              QStringLiteral("Error"));
    select({kPlainJob});
    EXPECT_EQ(window_->lStatus.text(), QStringLiteral("Disk full"));
}

// A title from another person shows on its one row: no separator Qt lays out as a line break.
TEST_F(JobListControllerTest, ATitleWithLineOrParagraphSeparatorsStaysOnOneLine) {
    const std::vector<std::u16string> titles = {u"first\nsecond", u"first\u2028second",
                                                u"first\u2029second", u"first\u0085second"};
    for (const std::u16string& title : titles) {
        const QString typed = QString::fromStdU16String(title);
        jobs_.getJob(kPlainJob)->setTitle(typed.toStdString());
        const QString shown =
            cell(rowOf(Job::Origin::kService, kPlainJob), JobTableModel::kDocument);
        EXPECT_EQ(shown.size(), typed.size()) << typed.toStdString();
        for (const QChar c : shown)
            EXPECT_TRUE(c.category() != QChar::Separator_Line &&
                        c.category() != QChar::Separator_Paragraph &&
                        c.category() != QChar::Other_Control)
                << "U+" << std::hex << static_cast<unsigned>(c.unicode());
    }
}

// A megabyte title is cut for the row, so that laying it out cannot stall every repaint.
TEST_F(JobListControllerTest, AVeryLongTitleIsShownCut) {
    const std::string title = "Report " + std::string(1 << 20, 'W');
    jobs_.getJob(kPlainJob)->setTitle(title);
    const QString shown = cell(rowOf(Job::Origin::kService, kPlainJob), JobTableModel::kDocument);
    EXPECT_LE(shown.size(), JobTableModel::kMaxShownLength);
    EXPECT_TRUE(shown.endsWith(QChar(0x2026)));
    EXPECT_TRUE(QString::fromStdString(title).startsWith(shown.chopped(1)));
}

TEST_F(JobListControllerTest, TheFilterWindowHidesStatesAndSavesTheSetting) {
    QTest::mouseClick(&window_->btnFilter, Qt::LeftButton);
    JobFilterController* filter = window_->filterWindow();
    ASSERT_NE(filter, nullptr);
    ASSERT_EQ(filter->tvStatus.count(), 7);
    EXPECT_EQ(filter->tvStatus.item(0)->text(), QStringLiteral("Waiting"));
    EXPECT_EQ(filter->tvStatus.item(0)->checkState(), Qt::Checked);

    filter->tvStatus.item(0)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(config_.jobFilter(), "Waiting");
    EXPECT_EQ(window_->model().rowCount(), 0);
    ConsoleConfig reread(profile_.path());
    std::string error;
    ASSERT_TRUE(reread.loadSetup(config_.currentUserName(), error)) << error;
    EXPECT_EQ(reread.jobFilter(), "Waiting");

    filter->tvStatus.item(0)->setCheckState(Qt::Checked);
    EXPECT_EQ(config_.jobFilter(), "");
    EXPECT_EQ(window_->model().rowCount(), 2);

    // A stored "Done" shows the row switched off when the window opens again.
    config_.setJobFilter("Done");
    filter->hide();
    QTest::mouseClick(&window_->btnFilter, Qt::LeftButton);
    EXPECT_EQ(filter->tvStatus.item(4)->checkState(), Qt::Unchecked);
}

TEST(JobFilterRuleTest, SwitchingAStateChangesOnlyItsLastEntry) {
    struct Case {
        const char* filter;
        const char* state;
        bool shown;
        const char* expected;
    };
    const Case cases[] = {
        {"", "Done", false, "Done"},
        {"Done", "Rejected", false, "Done,Rejected"},
        {"Done", "Done", false, "Done"},
        {"Done,Rejected", "Done", true, "Rejected"},
        {"Done,Error,Done", "Done", true, "Done,Error"},
        {"Error", "Done", true, "Error"},
        {"Done", "Done", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.filter) + " " + c.state);
        EXPECT_EQ(JobFilterController::changedFilter(c.filter, c.state, c.shown), c.expected);
    }
}

TEST_F(JobListControllerTest, ButtonsFollowTheSelectedJobsStates) {
    select({kAesJob});
    EXPECT_TRUE(window_->btnPrint.isEnabled());
    EXPECT_TRUE(window_->btnPrintDialog.isEnabled());
    EXPECT_TRUE(window_->btnAddSender.isEnabled());
    select({kAesJob, kPlainJob});
    EXPECT_TRUE(window_->btnReject.isEnabled());
    EXPECT_FALSE(window_->btnPrintDialog.isEnabled());
    EXPECT_FALSE(window_->btnAddSender.isEnabled());
    processor_.setStatus(Job::kPrinting, Job::Origin::kService, kPlainJob);
    // The selection survived the reload the state change caused.
    EXPECT_EQ(window_->tvJobs.selectionModel()->selectedRows().size(), 2);
    EXPECT_FALSE(window_->btnPrint.isEnabled());
    EXPECT_FALSE(window_->btnReject.isEnabled());

    select({kPlainJob});
    QTest::mouseClick(&window_->btnAddSender, Qt::LeftButton);
    QTest::mouseClick(&window_->btnCheckNow, Qt::LeftButton);
    EXPECT_EQ(added_, std::vector<int>{1});
    EXPECT_EQ(checks_, 1);
}

TEST_F(JobListControllerTest, TheSelectionFollowsItsJobWhenTheListChanges) {
    select({kPlainJob});
    pugi::xml_document document;
    ASSERT_TRUE(document.load_string("<data><job><document>Nearby</document></job></data>"));
    const std::optional<int> direct = jobs_.startReceivingPtpJob(document.child("data"));
    ASSERT_TRUE(direct);
    jobs_.notifyDelegates(1);
    ASSERT_EQ(rowOf(Job::Origin::kDirect, *direct), 0);
    const QModelIndexList selected = window_->tvJobs.selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(window_->model().keyAt(selected.front().row()),
              (JobTableModel::JobKey{Job::Origin::kService, kPlainJob}));
}

TEST_F(JobListControllerTest, RejectingTellsTheServiceAndRemovesThePages) {
    const std::filesystem::path jobDir = jobs_.getJob(kPlainJob)->getJobDir();
    std::filesystem::create_directories(jobDir);
    ScratchDirectory::writeFile(jobDir / "1.emf", "page");
    select({kPlainJob});
    QTest::mouseClick(&window_->btnReject, Qt::LeftButton);
    const Job* job = jobs_.getJob(kPlainJob);
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->status(), Job::kRejected);
    EXPECT_FALSE(job->isNew());
    EXPECT_FALSE(std::filesystem::exists(jobDir));
    EXPECT_EQ(soapCalls("UpdateJob", "-2"), 1);
    EXPECT_FALSE(window_->btnPrint.isEnabled());
}

TEST_F(JobListControllerTest, AJobFolderThatCannotBeRemovedIsReportedAndTheJobStaysRejected) {
    const std::filesystem::path jobDir = jobs_.getJob(kPlainJob)->getJobDir();
    std::filesystem::create_directories(jobDir / "not-a-page");
    select({kPlainJob});
    QTest::mouseClick(&window_->btnReject, Qt::LeftButton);
    ASSERT_NE(window_->alertBox(), nullptr);
    EXPECT_EQ(window_->alertBox()->text(), QStringLiteral("Failed to remove job dir"));
    EXPECT_EQ(jobs_.getJob(kPlainJob)->status(), Job::kRejected);
    EXPECT_TRUE(std::filesystem::exists(jobDir / "not-a-page"));
}

TEST_F(JobListControllerTest, AFailedRejectionShowsTheServicesErrorAndChangesNothing) {
    service_->addFault(
        R"({"match": {"operation": "UpdateJob"}, "status": 500, "soap_message": "Job store offline"})");
    select({kPlainJob});
    QTest::mouseClick(&window_->btnReject, Qt::LeftButton);
    ASSERT_NE(window_->alertBox(), nullptr);
    EXPECT_TRUE(window_->alertBox()->text().contains(QStringLiteral("Job store offline")));
    EXPECT_EQ(jobs_.getJob(kPlainJob)->status(), Job::kWaiting);
    EXPECT_TRUE(jobs_.getJob(kPlainJob)->isNew());
}

TEST_F(JobListControllerTest, AJobAWorkerHoldsIsNeitherRejectedNorPrintedAgain) {
    select({kPlainJob});
    // The state moved on after the buttons were last refreshed.
    jobs_.getJob(kPlainJob)->setStatus(Job::kPrinting);
    window_->btnReject_Clicked();
    window_->btnPrint_Clicked();
    EXPECT_EQ(jobs_.getJob(kPlainJob)->status(), Job::kPrinting);
    EXPECT_FALSE(jobs_.getJob(kPlainJob)->approved());
    EXPECT_EQ(soapCalls("UpdateJob"), 0);
}

TEST_F(JobListControllerTest, ADirectJobIsRejectedWithoutAServiceCall) {
    pugi::xml_document document;
    ASSERT_TRUE(document.load_string("<data><job><document>Nearby</document></job></data>"));
    const std::optional<int> direct = jobs_.startReceivingPtpJob(document.child("data"));
    ASSERT_TRUE(direct);
    jobs_.directJobReceived(*direct);
    window_->tvJobs.selectRow(rowOf(Job::Origin::kDirect, *direct));
    ASSERT_TRUE(window_->btnReject.isEnabled());
    QTest::mouseClick(&window_->btnReject, Qt::LeftButton);
    EXPECT_EQ(jobs_.getPtpJob(*direct)->status(), Job::kRejected);
    EXPECT_EQ(soapCalls("UpdateJob"), 0);
}

TEST_F(JobListControllerTest, PrintingAFailedJobAgainApprovesItFromWaiting) {
    processor_.setStatus(Job::kError, std::string("Disk full"), Job::Origin::kService, kPlainJob);
    select({kPlainJob});
    QTest::mouseClick(&window_->btnPrintDialog, Qt::LeftButton);
    const Job* job = jobs_.getJob(kPlainJob);
    EXPECT_TRUE(job->showDialog());
    EXPECT_TRUE(job->approved());
    // Dispatched at once: the processor took it from "Waiting" to the download.
    EXPECT_EQ(job->status(), Job::kDownloading);
    EXPECT_EQ(window_->passwordSheet(), nullptr);
}

TEST_F(JobListControllerTest, TheRightPasswordFetchesTheKeyAfterAWrongOne) {
    select({kAesJob});
    QTest::mouseClick(&window_->btnPrint, Qt::LeftButton);
    ASSERT_NE(window_->passwordSheet(), nullptr);
    EXPECT_FALSE(jobs_.getJob(kAesJob)->approved());

    ASSERT_NO_FATAL_FAILURE(confirmPassword(QStringLiteral("wrong")));
    JobPasswordController* sheet = window_->passwordSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_NE(sheet->alertBox(), nullptr);
    EXPECT_TRUE(sheet->alertBox()->text().contains(QStringLiteral("Incorrect password")));
    EXPECT_EQ(jobs_.getJob(kAesJob)->encryptKey(), "");
    sheet->alertBox()->close();

    ASSERT_NO_FATAL_FAILURE(confirmPassword(QStringLiteral("s3cret"), true));
    EXPECT_EQ(window_->passwordSheet(), nullptr);
    const Job* job = jobs_.getJob(kAesJob);
    EXPECT_EQ(job->encryptKey(), kKey);
    EXPECT_TRUE(job->approved());
    EXPECT_EQ(job->status(), Job::kDownloading);
    EXPECT_EQ(soapCalls("GetKey"), 2);
}

// A key that cannot decrypt would be kept and used for every later attempt, with no sheet again.
TEST_F(JobListControllerTest, AnUnusableKeyFromTheServiceKeepsThePasswordSheetOpen) {
    constexpr int kShortKeyJob = 2003;
    service_->seed(R"({"jobs": [{"id": 2003, "sender": "alice",
        "printer": "6a0c6f64-3c8e-4d35-9d3c-2a4a1b0c9e11", "status": "ready",
        "document": "Short key", "started": "240131140000", "encrypt-method": "AES",
        "pages": ["aGVsbG8="], "key": "c2hvcnQ=", "key_password": "s3cret"}]})");
    std::string error;
    ASSERT_TRUE(provider_.loginWithToken(error)) << error;
    ASSERT_NE(jobs_.getJob(kShortKeyJob), nullptr);
    select({kShortKeyJob});
    QTest::mouseClick(&window_->btnPrint, Qt::LeftButton);
    ASSERT_NO_FATAL_FAILURE(confirmPassword(QStringLiteral("s3cret")));
    EXPECT_EQ(soapCalls("GetKey"), 1);
    JobPasswordController* sheet = window_->passwordSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_NE(sheet->alertBox(), nullptr);
    EXPECT_EQ(jobs_.getJob(kShortKeyJob)->encryptKey(), "");
    EXPECT_FALSE(jobs_.getJob(kShortKeyJob)->approved());
}

TEST_F(JobListControllerTest, AJobWhoseKeyTheServiceKeepsAsksForNoPassword) {
    jobs_.getJob(kAesJob)->setEncryption(kEncryptionAes0);
    select({kAesJob});
    QTest::mouseClick(&window_->btnPrint, Qt::LeftButton);
    EXPECT_EQ(window_->passwordSheet(), nullptr);
    EXPECT_TRUE(jobs_.getJob(kAesJob)->approved());
}

TEST_F(JobListControllerTest, CancellingThePasswordLeavesTheJobUnapproved) {
    select({kAesJob});
    QTest::mouseClick(&window_->btnPrint, Qt::LeftButton);
    ASSERT_NE(window_->passwordSheet(), nullptr);
    QTest::mouseClick(&window_->passwordSheet()->btnCancel, Qt::LeftButton);
    EXPECT_EQ(window_->passwordSheet(), nullptr);
    EXPECT_FALSE(jobs_.getJob(kAesJob)->approved());
    EXPECT_EQ(jobs_.getJob(kAesJob)->status(), Job::kWaiting);
    EXPECT_EQ(soapCalls("GetKey"), 0);
}

TEST_F(JobListControllerTest, APollThatRemovesTheJobClosesItsPasswordSheet) {
    select({kAesJob});
    QTest::mouseClick(&window_->btnPrint, Qt::LeftButton);
    ASSERT_NE(window_->passwordSheet(), nullptr);
    // A full merge that no longer lists the job, as a new sign-in brings.
    pugi::xml_document document;
    ASSERT_TRUE(document.load_string("<jobs/>"));
    jobs_.parse(document.child("jobs"), false, true);
    EXPECT_EQ(window_->passwordSheet(), nullptr);
    EXPECT_EQ(window_->model().rowCount(), 0);
    QApplication::processEvents();
    EXPECT_EQ(soapCalls("GetKey"), 0);
}

TEST_F(JobListControllerTest, Screenshots) {
    select({kPlainJob});
    test::saveScreenshot(*window_, "job-list");
    select({kAesJob});
    QTest::mouseClick(&window_->btnPrint, Qt::LeftButton);
    ASSERT_NE(window_->passwordSheet(), nullptr);
    window_->passwordSheet()->ePassword.setText(QStringLiteral("s3cret"));
    test::saveScreenshot(*window_->passwordSheet(), "job-password");
}

// The model over a long list: every job once, newest first, and the filter applied to each.
TEST(JobTableModelTest, TenThousandJobsReloadInOrderAndFiltered) {
    test::NoDispatch dispatcher;
    ScratchDirectory profile("velmora-job-model");
    JobArray jobs(dispatcher, {[&] { return profile.path(); }, [] {}});
    constexpr int kJobs = 10000;
    pugi::xml_document document;
    pugi::xml_node list = document.append_child("jobs");
    for (int id = 1; id <= kJobs; ++id) {
        pugi::xml_node job = list.append_child("job");
        job.append_attribute("id") = id;
        job.append_child("document").text() = ("Doc\n" + std::to_string(id)).c_str();
    }
    jobs.parse(list, true, false);
    for (int id = 2; id <= kJobs; id += 2)
        jobs.getJob(id)->setStatus(Job::kDone);
    ConsoleConfig config(profile.path());
    LocalPrinterArray printers;
    Translation translation(config);
    JobTableModel model(jobs, config, printers, translation);
    model.reload();
    ASSERT_EQ(model.rowCount(), kJobs);
    for (int row = 0; row < kJobs; row += 997)
        EXPECT_EQ(model.keyAt(row).second, kJobs - row);
    // A line break in a title stays inside its row.
    EXPECT_EQ(model.data(model.index(0, JobTableModel::kDocument), Qt::DisplayRole).toString(),
              QStringLiteral("Doc %1").arg(kJobs));

    config.setJobFilter("Done");
    model.reload();
    ASSERT_EQ(model.rowCount(), kJobs / 2);
    EXPECT_EQ(model.keyAt(0).second, kJobs - 1);
    for (int row = 0; row < model.rowCount(); row += 1013)
        EXPECT_EQ(model.jobAt(row)->status(), Job::kWaiting);

    // Rows of jobs that left the list show nothing, and no other job.
    jobs.removeAllObjects();
    EXPECT_EQ(model.jobAt(0), nullptr);
    EXPECT_FALSE(model.data(model.index(0, JobTableModel::kDocument), Qt::DisplayRole).isValid());
}

}  // namespace
}  // namespace velmora::console
