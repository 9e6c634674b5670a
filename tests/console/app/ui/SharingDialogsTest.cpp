#include <gtest/gtest.h>

#include <QtTest/QTest>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/app/ui/FindPrinterController.h"
#include "console/app/ui/FindUserController.h"
#include "console/app/ui/PermissionsController.h"
#include "console/app/ui/Translation.h"
#include "console/jobs/JobArray.h"
#include "console/jobs/JobDispatcher.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/ConsoleInetProvider.h"
#include "core/account/PermissionArray.h"
#include "core/account/Person.h"
#include "core/model/RemotePrinterArray.h"
#include "tests/console/app/ui/QtTestPrinting.h"
#include "tests/console/app/ui/Screenshot.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/SeededService.h"

namespace velmora::console {
namespace {

using test::RefServiceProcess;
using test::ScratchDirectory;
using test::SeededService;

constexpr const char* kInkjet = "22222222-3333-4444-5555-666666666666";
constexpr const char* kSeed = R"({
    "accounts": [
      {"login": "alice", "password": "pw", "token": "tok-alice", "id": 1,
       "permissions": [{"permission": "Ask"}, {"client": "bob", "permission": "Allow"}]},
      {"login": "bob", "id": 2, "nick": "Bobby"},
      {"login": "carol", "id": 3, "nick": "Caro <b>bold</b>"},
      {"login": "dave", "id": 4, "nick": "Dave\nSecond\u2028Third\u2029Fourth"}],
    "printers": [
      {"public_id": "22222222-3333-4444-5555-666666666666", "owner": "bob", "title": "Inkjet",
       "location": "Hall", "shared": true, "online": true}]})";

// Counts the processor's dispatches that a permission change asks for.
class CountingDispatcher : public JobDispatcher {
  public:
    void dispatchJobs() override { ++calls; }
    int calls = 0;
};

// The permissions, find-user and find-printer windows, signed in as alice on the reference
// service.
class SharingDialogsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        service_ = std::make_unique<SeededService>("velmora-sharing-dialogs", kSeed);
    }
    static void TearDownTestSuite() { service_.reset(); }

    void SetUp() override {
        service_->post("/_ref/reset", "");
        config_.setService(service_->serviceUrl());
        config_.setToken("tok-alice");
        std::string error;
        ASSERT_TRUE(provider_.loginWithToken(error)) << error;
        ASSERT_EQ(permissions_.count(), 2u);
        // Only the dispatches the window asks for count.
        dispatcher_.calls = 0;
        window_ = std::make_unique<PermissionsController>(PermissionsController::Collaborators{
            provider_, permissions_, dispatcher_, translation_});
        window_->show();
    }

    // alice's rules at the service: client id (0 for anyone) → code.
    std::map<int, std::string> serviceRules() const {
        std::map<int, std::string> rules;
        const auto state = service_->state();
        for (const auto& [unused, account] : state.get_child("accounts")) {
            if (account.get<std::string>("login") != "alice")
                continue;
            for (const auto& [unused2, rule] : account.get_child("rules"))
                rules[rule.get<int>("client", 0)] = rule.get<std::string>("permission");
        }
        return rules;
    }
    size_t setPermissionCalls() const {
        size_t calls = 0;
        for (const auto& entry : service_->requests("soap"))
            calls += entry.get<std::string>("operation", "") == "SetPermission" ? 1 : 0;
        return calls;
    }
    static Person person(int id, const std::string& login) {
        Person person;
        person.setServerId(id);
        person.setProperty(Person::kLogin, login);
        return person;
    }
    void choose(int row, const QString& text) {
        window_->model().setData(window_->model().index(row, PermissionTableModel::kIncoming), text,
                                 Qt::EditRole);
        // The choice is handled after the editor closed.
        QCoreApplication::processEvents();
    }
    QString alertTitle(QMessageBox* box) const { return box != nullptr ? box->text() : QString(); }

    static inline std::unique_ptr<SeededService> service_;

    ScratchDirectory profile_{"velmora-sharing-profile"};
    ConsoleConfig config_{profile_.path()};
    Person user_;
    PermissionArray permissions_;
    RemotePrinterArray remotePrinters_;
    LocalPrinterArray localPrinters_;
    CountingDispatcher dispatcher_;
    JobArray jobs_{dispatcher_, {[this] { return profile_.path(); }, [] {}}};
    Translation translation_{config_};
    ConsoleInetProvider provider_{
        config_, user_, {permissions_, remotePrinters_, localPrinters_, jobs_}, translation_};
    std::unique_ptr<PermissionsController> window_;
};

TEST_F(SharingDialogsTest, RuleForAnyoneComesFirstInBoldAndCanBeChangedButNotRemoved) {
    const auto& rows = window_->model().rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].user, QStringLiteral("Anyone"));
    EXPECT_EQ(rows[1].user, QStringLiteral("Bobby"));
    EXPECT_TRUE(
        window_->model().data(window_->model().index(0, 0), Qt::FontRole).value<QFont>().bold());
    EXPECT_FALSE(window_->model().data(window_->model().index(1, 0), Qt::FontRole).isValid());
    EXPECT_EQ(window_->model().data(window_->model().index(1, 1), Qt::DisplayRole).toString(),
              QStringLiteral("Print automatically"));
    window_->tvPermissions.selectRow(0);
    EXPECT_FALSE(window_->btnRemove.isEnabled());
    QTest::mouseClick(&window_->btnRemove, Qt::LeftButton);
    EXPECT_EQ(setPermissionCalls(), 0u);
    window_->tvPermissions.selectRow(1);
    EXPECT_TRUE(window_->btnRemove.isEnabled());

    choose(0, QStringLiteral("Print automatically"));
    EXPECT_EQ(serviceRules(), (std::map<int, std::string>{{0, "Allow"}, {2, "Allow"}}));
    EXPECT_EQ(permissions_.getDefaultPermission(), Permission::kAllow);
    // Jobs waiting for permission are looked at again under the new rule.
    EXPECT_EQ(dispatcher_.calls, 1);
    EXPECT_EQ(window_->model().rows()[0].value, Permission::kAllow);
    test::saveScreenshot(*window_, "permissions");
}

TEST_F(SharingDialogsTest, ChangesReachTheServiceAndTheListOnlyWhenTheServiceAgreed) {
    choose(1, QStringLiteral("Reject automatically"));
    EXPECT_EQ(serviceRules().at(2), "Block");
    EXPECT_EQ(permissions_.getPermissionFor(2), Permission::kBlock);

    // A text that is none of the three falls back to the rule for anyone.
    choose(1, QStringLiteral("whatever"));
    EXPECT_EQ(serviceRules().at(2), "Ask");

    config_.setService("http://127.0.0.1:1/tdService.asmx");
    choose(1, QStringLiteral("Print automatically"));
    EXPECT_NE(alertTitle(window_->alertBox()), QString());
    EXPECT_EQ(permissions_.getPermissionFor(2), Permission::kAsk);
    EXPECT_EQ(dispatcher_.calls, 2);
}

TEST_F(SharingDialogsTest, AddingAndRemovingPersons) {
    window_->addPermissionForPerson(person(2, "bob"));
    EXPECT_EQ(setPermissionCalls(), 0u);
    EXPECT_EQ(window_->model().rows().size(), 2u);

    window_->addPermissionForPerson(person(3, "carol"));
    EXPECT_EQ(serviceRules().at(3), "Ask");
    ASSERT_EQ(window_->model().rows().size(), 3u);
    EXPECT_EQ(window_->model().rows()[2].personId, 3);

    window_->tvPermissions.selectRow(1);
    QTest::mouseClick(&window_->btnRemove, Qt::LeftButton);
    EXPECT_EQ(serviceRules().count(2), 0u);
    ASSERT_EQ(permissions_.count(), 2u);
    EXPECT_EQ(permissions_.objectAtIndex(1).person()->serverId(), 3);

    // A person the service does not know is refused, and nothing is added.
    window_->addPermissionForPerson(person(99, "ghost"));
    EXPECT_EQ(alertTitle(window_->alertBox()), QStringLiteral("User not found"));
    EXPECT_EQ(permissions_.count(), 2u);
}

TEST_F(SharingDialogsTest, ListReplacedUnderAnOpenWindowNeverChangesSomeoneElse) {
    // A new sign-in replaced bob's rule by carol's at the same position; the table still shows
    // the old rows.
    permissions_.removeObjectAtIndex(1);
    permissions_.addObject(Permission(person(3, "carol"), Permission::kAsk));
    choose(1, QStringLiteral("Reject automatically"));
    window_->tvPermissions.selectRow(1);
    QTest::mouseClick(&window_->btnRemove, Qt::LeftButton);
    EXPECT_EQ(setPermissionCalls(), 0u);
    EXPECT_EQ(permissions_.getPermissionFor(3), Permission::kAsk);
    EXPECT_EQ(permissions_.count(), 2u);
    EXPECT_EQ(dispatcher_.calls, 0);
}

TEST_F(SharingDialogsTest, FindUserShowsNoResultsOnlyForAnEmptyAnswerAndAddsThePerson) {
    window_->btnAdd_Clicked();
    FindUserController* find = window_->findUserController();
    ASSERT_NE(find, nullptr);
    EXPECT_FALSE(find->btnAdd.isEnabled());
    find->searchField.setText(QStringLiteral("nobody-like-this"));
    find->searchField_Changed();
    EXPECT_FALSE(find->lNoResults.isHidden());
    EXPECT_TRUE(find->foundUsers().empty());

    find->searchField.setText(QStringLiteral("caro"));
    find->searchField_Changed();
    EXPECT_TRUE(find->lNoResults.isHidden());
    ASSERT_EQ(find->foundUsers().size(), 1u);
    // Markup from another user is shown as typed.
    EXPECT_EQ(find->model_.data(find->model_.index(0, PersonTableModel::kNick), Qt::DisplayRole),
              QStringLiteral("Caro <b>bold</b>"));
    test::saveScreenshot(*find, "find-user");

    // An emptied field starts no search and keeps the results.
    const size_t before = service_->requests("soap").size();
    find->searchField.clear();
    find->searchField_Changed();
    EXPECT_EQ(service_->requests("soap").size(), before);
    EXPECT_EQ(find->foundUsers().size(), 1u);

    find->tvUsers.selectRow(0);
    EXPECT_TRUE(find->btnAdd.isEnabled());
    QTest::mouseClick(&find->btnAdd, Qt::LeftButton);
    EXPECT_EQ(serviceRules().at(3), "Ask");
    EXPECT_EQ(window_->model().rows().size(), 3u);
    EXPECT_TRUE(find->isVisible());
}

// A nick from another user shows on one line, in the search answer and in the rules.
TEST_F(SharingDialogsTest, LineBreaksInAFoundNickNeverBreakTheRow) {
    const auto oneLine = [](const QVariant& shown) {
        const QString text = shown.toString();
        return !text.isEmpty() && std::none_of(text.begin(), text.end(), [](QChar c) {
            return c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
                   c.category() == QChar::Separator_Paragraph;
        });
    };
    window_->btnAdd_Clicked();
    FindUserController* find = window_->findUserController();
    ASSERT_NE(find, nullptr);
    find->searchField.setText(QStringLiteral("dave"));
    find->searchField_Changed();
    ASSERT_EQ(find->foundUsers().size(), 1u);
    EXPECT_TRUE(oneLine(
        find->model_.data(find->model_.index(0, PersonTableModel::kNick), Qt::DisplayRole)));
    find->tvUsers.selectRow(0);
    QTest::mouseClick(&find->btnAdd, Qt::LeftButton);
    ASSERT_EQ(window_->model().rows().size(), 3u);
    EXPECT_TRUE(oneLine(window_->model().data(
        window_->model().index(2, PermissionTableModel::kUser), Qt::DisplayRole)));
}

TEST_F(SharingDialogsTest, FindPrinterAddsByDoubleClickAsByTheButton) {
    int added = 0;
    FindPrinterController find(provider_, translation_, [&added] { ++added; });
    find.show();
    find.cbOnline.setChecked(true);
    find.searchField.setText(QStringLiteral("Ink"));
    find.searchField_Changed();
    ASSERT_EQ(find.foundPrinters().size(), 1u);
    EXPECT_EQ(
        find.model_.data(find.model_.index(0, FoundPrinterTableModel::kOwner), Qt::DisplayRole),
        QStringLiteral("Bobby"));
    EXPECT_EQ(
        find.model_.data(find.model_.index(0, FoundPrinterTableModel::kPrinter), Qt::DisplayRole),
        QStringLiteral("Inkjet"));
    test::saveScreenshot(find, "find-printer");
    EXPECT_EQ(remotePrinters_.getPrinter(kInkjet), nullptr);

    const QModelIndex cell = find.model_.index(0, FoundPrinterTableModel::kPrinter);
    find.tvPrinters.selectRow(0);
    emit find.tvPrinters.doubleClicked(cell);
    EXPECT_EQ(added, 1);
    EXPECT_NE(remotePrinters_.getPrinter(kInkjet), nullptr);
    EXPECT_TRUE(find.isVisible());

    find.searchField.setText(QStringLiteral("no-such-printer"));
    find.searchField_Changed();
    EXPECT_FALSE(find.lNoResults.isHidden());
    EXPECT_FALSE(find.btnAdd.isEnabled());
}

}  // namespace
}  // namespace velmora::console
