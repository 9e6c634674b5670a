#include "console/service/ConsoleInetProvider.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "console/jobs/JobArray.h"
#include "console/jobs/JobDispatcher.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/Translator.h"
#include "core/Deployment.h"
#include "core/account/PermissionArray.h"
#include "core/account/Person.h"
#include "core/model/PrinterGroup.h"
#include "core/model/RemotePrinterArray.h"
#include "core/xml/XmlHelpers.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/PrivateCupsd.h"
#include "tests/support/RefServiceProcess.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

using test::RefServiceProcess;
using test::ScratchDirectory;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Tree = RefServiceProcess::Tree;

constexpr const char* kLaser = "11111111-2222-3333-4444-555555555555";
constexpr const char* kPlotter = "22222222-3333-4444-5555-666666666666";

constexpr const char* kSeed = R"({
    "server": {"server_message": "Welcome", "properties": {"allow-registration": "true"},
               "groups": [{"id": 7, "name": "Staff"}, {"id": 9, "name": "Guests & <Friends>"}]},
    "accounts": [
        {"login": "carol", "password": "carol-pw", "token": "tok-carol", "id": 3, "nick": "Caz",
         "free_pages": 30, "buy_url": "https://shop.example.test/buy",
         "favorites": ["11111111-2222-3333-4444-555555555555"],
         "default_printer": "11111111-2222-3333-4444-555555555555",
         "permissions": [{"permission": "Ask"}, {"client": "bob", "permission": "Allow"}]},
        {"login": "bob", "password": "bob-pw", "token": "tok-bob", "id": 2, "nick": "Bobby"},
        {"login": "dave", "password": "dave-pw", "token": "tok-dave", "id": 4}
    ],
    "printers": [
        {"public_id": "11111111-2222-3333-4444-555555555555", "owner": "bob",
         "title": "Bob's Laser", "location": "Hall", "shared": true, "online": true},
        {"public_id": "22222222-3333-4444-5555-666666666666", "owner": "bob",
         "title": "Plotter", "location": "Lab", "shared": true, "online": true}
    ]})";

// Texts come back as their section and key, so a test sees which translation was asked for.
class KeyTranslator : public Translator {
  public:
    std::string section(const std::string& sectionName, const std::string& key,
                        const std::string&) const override {
        return "[" + sectionName + "/" + key + "]";
    }
};

class CountingDispatcher : public JobDispatcher {
  public:
    void dispatchJobs() override { ++calls; }
    int calls = 0;
};

// What the other lists hold at the moment the job list announces its news.
class ListWatcher : public JobArrayDelegate {
  public:
    void jobArray_Changed(int added) override {
        if (snapshot)
            seen.push_back(snapshot());
        addedCounts.push_back(added);
    }
    std::function<std::string()> snapshot;
    std::vector<std::string> seen;
    std::vector<int> addedCounts;
};

class ConsoleInetProviderServiceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch_ = std::make_unique<ScratchDirectory>("velmora-console-inet");
        ScratchDirectory::writeFile(*scratch_ / "seed.json", kSeed);
        service_ = std::make_unique<RefServiceProcess>(
            *scratch_ / "seed.json", std::vector<std::string>{}, *scratch_ / "service.log");
        cupsd_ = std::make_unique<test::PrivateCupsd>();
        if (!cupsd_->running())
            return;
        for (const char* queue : {"Desk", "Annex"}) {
            auto added = cupsd_->command(
                {"lpadmin", "-p", queue, "-E", "-v", "file:///dev/null", "-L", "Room 1", "-P",
                 "/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd"});
            if (added.exitStatus != 0)
                queueFailure_ += added.standardError;
        }
    }
    static void TearDownTestSuite() {
        cupsd_.reset();
        service_.reset();
        scratch_.reset();
    }

    void SetUp() override {
        ASSERT_TRUE(cupsd_->running()) << cupsd_->failure();
        ASSERT_EQ(queueFailure_, "");
        service_->post("/_ref/reset", "");
        config_.setService(service_->serviceUrl());
        config_.setToken("tok-carol");
        ASSERT_TRUE(localPrinters_.loadFromSystem());
        ASSERT_EQ(localPrinters_.count(), 2u);
        jobs_.addDelegate(&watcher_);
    }
    void TearDown() override {
        jobs_.removeDelegate(&watcher_);
        // Every request the console made was one the service understood.
        Tree state = service_->state();
        EXPECT_EQ(state.get<int>("malformed_count"), 0) << describe(state.get_child("malformed"));
        // And it was sent in exactly the form the service expects, apart from the markers a
        // test chose itself.
        HttpClient::Response full = service_->get("/_ref/state");
        std::istringstream in(full.body);
        Tree withRequests;
        boost::property_tree::read_json(in, withRequests);
        for (const auto& [unused, entry] : withRequests.get_child("requests")) {
            for (const auto& [unused2, deviation] : entry.get_child("deviations")) {
                if (deviation.data().find("marker") == std::string::npos)
                    ADD_FAILURE() << entry.get<std::string>("operation", "") << ": "
                                  << deviation.data();
            }
        }
    }

    static std::string describe(const Tree& tree) {
        std::ostringstream out;
        boost::property_tree::write_json(out, tree, false);
        return out.str();
    }
    // The "data" parameters of the service operations received so far, in order.
    std::vector<std::string> params(const std::string& operation) const {
        std::vector<std::string> found;
        for (const Tree& entry : service_->requests("soap")) {
            if (entry.get<std::string>("operation", "") == operation)
                found.push_back(entry.get<std::string>("param", ""));
        }
        return found;
    }
    std::vector<std::string> fastCheckQueries() const {
        std::vector<std::string> found;
        for (const Tree& entry : service_->requests("fastcheck"))
            found.push_back(entry.get<std::string>("query", ""));
        return found;
    }
    std::string marker() const { return service_->state().get<std::string>("marker"); }
    // Carol shares her first local printer at the service, with a job waiting on it.
    std::string shareFirstLocalPrinterWithAJob() {
        const std::string id = localPrinters_.objectAtIndex(0).publicId();
        service_->seed(R"({"printers": [{"public_id": ")" + id +
                       R"(", "owner": "carol", "title": "Desk", "shared": true}],
                          "jobs": [{"sender": "bob", "printer": ")" +
                       id + R"(", "document": "Minutes", "pages": [{"text": "x"}]}]})");
        return id;
    }
    bool fastCheck(bool& changed, bool& relogin, std::string& error) {
        return provider_.fastCheck(changed, relogin, error);
    }

    struct Snapshot {
        std::string marker;
        size_t favorites;
        size_t jobs;
        size_t permissions;
        int freePages;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot snapshot() const {
        return {provider_.fastCheckTimestamp(), remotePrinters_.count(), jobs_.count(),
                permissions_.count(), config_.freePages()};
    }

    static inline std::unique_ptr<ScratchDirectory> scratch_;
    static inline std::unique_ptr<RefServiceProcess> service_;
    static inline std::unique_ptr<test::PrivateCupsd> cupsd_;
    static inline std::string queueFailure_;

    ScratchDirectory profile_{"velmora-console-profile"};
    ConsoleConfig config_{profile_.path()};
    Person user_;
    PermissionArray permissions_;
    RemotePrinterArray remotePrinters_;
    LocalPrinterArray localPrinters_{cupsd_ ? cupsd_->socketPath() : ""};
    CountingDispatcher dispatcher_;
    JobArray jobs_{dispatcher_, {[this] { return profile_.path(); }, [] {}}};
    ListWatcher watcher_;
    KeyTranslator translator_;
    ConsoleInetProvider provider_{
        config_, user_, {permissions_, remotePrinters_, localPrinters_, jobs_}, translator_};
};

TEST_F(ConsoleInetProviderServiceTest, TokenSignInFillsEveryListBeforeAnnouncingJobs) {
    const std::string sharedId = shareFirstLocalPrinterWithAJob();
    watcher_.snapshot = [this] {
        return std::to_string(permissions_.count()) + " rules, " +
               std::to_string(remotePrinters_.count()) + " favourites, shared " +
               (localPrinters_.objectAtIndex(0).shared() ? "yes" : "no") + ", marker " +
               (provider_.fastCheckTimestamp().empty() ? "none" : "set");
    };

    std::string error;
    ASSERT_TRUE(provider_.loginWithToken(error)) << error;

    EXPECT_EQ(provider_.fastCheckTimestamp(), marker());
    EXPECT_EQ(config_.updateUrl(), service_->base() + "/update.xml");
    EXPECT_EQ(config_.serverMessage(), "Welcome");
    EXPECT_EQ(config_.freePages(), 30);
    EXPECT_EQ(config_.buyMoreUrl(), "https://shop.example.test/buy");
    EXPECT_EQ(user_.login(), "carol");
    EXPECT_EQ(config_.lastEmail(), "carol@example.test");
    ASSERT_EQ(permissions_.count(), 2u);
    EXPECT_EQ(permissions_.getPermissionFor(2), Permission::kAllow);
    EXPECT_EQ(permissions_.getDefaultPermission(), Permission::kAsk);
    EXPECT_TRUE(localPrinters_.objectAtIndex(0).shared());
    EXPECT_FALSE(localPrinters_.objectAtIndex(1).shared());
    ASSERT_EQ(remotePrinters_.count(), 1u);
    EXPECT_EQ(remotePrinters_.defaultPrinterId(), kLaser);
    EXPECT_EQ(remotePrinters_.objectAtIndex(0)->owner().login(), "bob");
    ASSERT_EQ(jobs_.count(), 1u);
    EXPECT_EQ(jobs_.objectAtIndex(0).serverId(), 1001);
    EXPECT_EQ(jobs_.objectAtIndex(0).printerId(), sharedId);
    EXPECT_THAT(watcher_.seen, ElementsAre("2 rules, 1 favourites, shared yes, marker set"));
    EXPECT_THAT(watcher_.addedCounts, ElementsAre(1));

    const std::string lookup =
        "<lookup><printer><public-id>" + sharedId + "</public-id></printer><printer><public-id>" +
        localPrinters_.objectAtIndex(1).publicId() + "</public-id></printer></lookup>";
    EXPECT_THAT(params("Login"),
                ElementsAre(R"(<data xmlns="" echo="favorites,jobs"><token>tok-carol</token>)" +
                            lookup + "</data>"));
}

TEST_F(ConsoleInetProviderServiceTest, ATokenSignInWithoutFreePagesShowsNoFigure) {
    config_.setToken("tok-dave");
    config_.setFreePages(12);
    config_.setBuyMoreUrl("https://old.example.test");
    std::string error;
    ASSERT_TRUE(provider_.loginWithToken(error)) << error;
    EXPECT_EQ(config_.freePages(), -1);
    EXPECT_EQ(config_.buyMoreUrl(), deployment::kWebSite);
    EXPECT_EQ(remotePrinters_.count(), 0u);
}

TEST_F(ConsoleInetProviderServiceTest, PasswordSignInStoresTokenUserAndMailOnly) {
    config_.setToken("");
    std::string error;
    ASSERT_TRUE(provider_.login("carol", "carol-pw", service_->serviceUrl(), error)) << error;
    EXPECT_FALSE(config_.token().empty());
    EXPECT_NE(config_.token(), "tok-carol");
    EXPECT_EQ(user_.nick(), "Caz");
    EXPECT_EQ(config_.lastEmail(), "carol@example.test");
    EXPECT_EQ(remotePrinters_.count(), 0u);
    EXPECT_EQ(provider_.fastCheckTimestamp(), "");

    const std::string token = config_.token();
    EXPECT_FALSE(provider_.login("carol", "wrong", service_->serviceUrl(), error));
    EXPECT_EQ(error, "Invalid login or password");
    EXPECT_EQ(config_.token(), token);
    EXPECT_THAT(params("Login"), ElementsAre(R"(<data xmlns="" echo="minimal"><login>carol</login>)"
                                             R"(<password>carol-pw</password></data>)",
                                             R"(<data xmlns="" echo="minimal"><login>carol</login>)"
                                             R"(<password>wrong</password></data>)"));

    provider_.logoff();
    EXPECT_THAT(params("Logoff"),
                ElementsAre(R"(<data xmlns=""><token>)" + token + "</token></data>"));
    ASSERT_FALSE(provider_.loginWithToken(error));
    EXPECT_EQ(error, "Invalid token");
}

TEST_F(ConsoleInetProviderServiceTest, ChangePrintersActionsReachTheService) {
    std::string error;
    ASSERT_TRUE(provider_.loginWithToken(error)) << error;

    // "like": the new favourite arrives with its whole description.
    ASSERT_TRUE(provider_.likePrinter(kPlotter, error)) << error;
    ASSERT_EQ(remotePrinters_.count(), 2u);
    ASSERT_NE(remotePrinters_.getPrinter(kPlotter), nullptr);
    EXPECT_EQ(remotePrinters_.getPrinter(kPlotter)->shareTitle(), "Plotter");
    EXPECT_EQ(remotePrinters_.getPrinter(kPlotter)->location(), "Lab");

    // "dislike": the service forgets the favourite; the list changes with the next check.
    ASSERT_TRUE(provider_.changePrinter(kLaser, "dislike", error)) << error;
    EXPECT_EQ(remotePrinters_.count(), 2u);

    // Sharing a local printer, with and without liking it, and ending the share.
    const LocalPrinter desk = localPrinters_.objectAtIndex(0);
    const LocalPrinter annex = localPrinters_.objectAtIndex(1);
    ASSERT_TRUE(provider_.addSharePrinter(desk, error)) << error;
    config_.setLikeMyPrinters(false);
    ASSERT_TRUE(provider_.addSharePrinter(annex, error)) << error;
    ASSERT_TRUE(provider_.changePrinter(annex.publicId(), "unshare", error)) << error;

    std::vector<std::string> actions;
    for (const Tree& entry : service_->requests("soap")) {
        if (entry.get<std::string>("operation", "") == "ChangePrinters") {
            const std::string param = entry.get<std::string>("param");
            actions.push_back(param.substr(0, param.find("<token>")));
        }
    }
    EXPECT_THAT(actions, ElementsAre(R"(<data xmlns="" echo="full" action="like">)",
                                     R"(<data xmlns="" echo="none" action="dislike">)",
                                     R"(<data xmlns="" echo="jobs" action="add,share,like">)",
                                     R"(<data xmlns="" echo="jobs" action="add,share">)",
                                     R"(<data xmlns="" echo="none" action="unshare">)"));
    EXPECT_THAT(params("ChangePrinters")[1], HasSubstr(std::string("<printer><public-id>") +
                                                       kLaser + "</public-id></printer></data>"));

    Tree state = service_->state();
    std::vector<std::string> favorites;
    for (const auto& [unused, account] : state.get_child("accounts")) {
        if (account.get<std::string>("login") == "carol") {
            for (const auto& [unused2, id] : account.get_child("favorites"))
                favorites.push_back(id.data());
        }
    }
    EXPECT_THAT(favorites, ElementsAre(kPlotter, desk.publicId()));
    for (const auto& [unused, printer] : state.get_child("printers")) {
        const std::string id = printer.get<std::string>("public_id");
        if (id == desk.publicId()) {
            EXPECT_EQ(printer.get<std::string>("shared"), "true");
            EXPECT_EQ(printer.get<std::string>("title"), desk.shareTitle());
        }
        if (id == annex.publicId()) {
            EXPECT_EQ(printer.get<std::string>("shared"), "false");
        }
    }

    ASSERT_FALSE(provider_.changePrinter(kLaser, "unshare", error));
    EXPECT_EQ(error, "Access denied");
}

TEST_F(ConsoleInetProviderServiceTest, SharingAPrinterMergesTheJobsWaitingForIt) {
    std::string error;
    const LocalPrinter desk = localPrinters_.objectAtIndex(0);
    ASSERT_TRUE(provider_.addSharePrinter(desk, error)) << error;
    ASSERT_TRUE(provider_.changePrinter(desk.publicId(), "unshare", error)) << error;
    service_->seed(R"({"jobs": [{"sender": "bob", "printer": ")" + desk.publicId() +
                   R"(", "pages": [{"text": "a"}, {"text": "b"}]}]})");
    EXPECT_EQ(jobs_.count(), 0u);
    ASSERT_TRUE(provider_.addSharePrinter(desk, error)) << error;
    ASSERT_EQ(jobs_.count(), 1u);
    EXPECT_EQ(jobs_.objectAtIndex(0).printerId(), desk.publicId());
    // One job announced as new, whatever other notices the merges gave.
    EXPECT_EQ(std::accumulate(watcher_.addedCounts.begin(), watcher_.addedCounts.end(), 0), 1);
    EXPECT_EQ(watcher_.addedCounts.back(), 1);
    EXPECT_GE(dispatcher_.calls, 1);
}

// The change check as the service really answers it.
TEST_F(ConsoleInetProviderServiceTest, FastCheckFollowsTheServicesChanges) {
    std::string error;
    ASSERT_TRUE(provider_.loginWithToken(error)) << error;
    bool changed = true;
    bool relogin = true;

    // Nothing new: the bare marker.
    ASSERT_TRUE(fastCheck(changed, relogin, error)) << error;
    EXPECT_FALSE(changed);
    EXPECT_FALSE(relogin);
    EXPECT_EQ(provider_.fastCheckTimestamp(), marker());

    // A new figure alone.
    service_->seed(R"({"accounts": [{"login": "carol", "free_pages": 75}]})");
    ASSERT_TRUE(fastCheck(changed, relogin, error)) << error;
    EXPECT_TRUE(changed);
    EXPECT_EQ(config_.freePages(), 75);
    EXPECT_EQ(remotePrinters_.count(), 1u);
    EXPECT_EQ(provider_.fastCheckTimestamp(), marker());

    // Bob stops sharing the favourite: it leaves the list. A job arrives for Carol.
    shareFirstLocalPrinterWithAJob();
    ASSERT_TRUE(service_
                    ->post("/_ref/seed", R"({"printers": [{"public_id": ")" + std::string(kLaser) +
                                             R"(", "owner": "bob", "shared": false}]})")
                    .status == 200);
    ASSERT_TRUE(fastCheck(changed, relogin, error)) << error;
    EXPECT_TRUE(changed);
    EXPECT_EQ(remotePrinters_.count(), 0u);
    ASSERT_EQ(jobs_.count(), 1u);
    EXPECT_EQ(std::accumulate(watcher_.addedCounts.begin(), watcher_.addedCounts.end(), 0), 1);
    EXPECT_EQ(watcher_.addedCounts.back(), 1);

    // The session ends elsewhere: sign in again.
    service_->post("/_ref/revoke", R"({"token": "tok-carol"})");
    ASSERT_TRUE(fastCheck(changed, relogin, error)) << error;
    EXPECT_TRUE(relogin);
    EXPECT_FALSE(changed);

    for (const std::string& query : fastCheckQueries())
        EXPECT_THAT(query, ::testing::MatchesRegex("d=[0-9]{12}"));
}

// Replies the service may give that the seeded state cannot provoke, served as given.
TEST_F(ConsoleInetProviderServiceTest, FastCheckReplyForms) {
    std::string error;
    ASSERT_TRUE(provider_.loginWithToken(error)) << error;
    const std::string start = provider_.fastCheckTimestamp();
    struct Case {
        const char* name;
        std::string body;
        bool ok;
        bool changed;
        bool relogin;
        std::string markerAfter;  // "=" keeps the marker
        size_t jobsAfter;
        size_t favoritesAfter;
    };
    const std::string job =
        R"(<jobs><job id="4711"><printer>x</printer><document>d</document></job></jobs>)";
    const Case cases[] = {
        {"12 characters", "000000009999", true, false, false, "000000009999", 0, 1},
        {"11 characters", "00000009999", true, false, false, "=", 0, 1},
        {"12 characters, not digits", "ab&c=d#e/f?g", true, false, false, "ab&c=d#e/f?g", 0, 1},
        {"relogin with jobs", "<relogin timestamp=\"000000000077\">" + job + "</relogin>", true,
         false, true, "000000000077", 0, 1},
        {"subscriptions", "<response timestamp=\"1\"><subscriptions/>" + job + "</response>", true,
         false, true, "1", 0, 1},
        {"no timestamp", "<response><free-pages amount=\"3\"/></response>", true, true, false, "",
         0, 1},
        {"dislike of an unknown printer",
         "<response timestamp=\"000000000078\"><dislike><printer><public-id>"
         "99999999-0000-0000-0000-000000000000</public-id></printer></dislike></response>",
         true, true, false, "000000000078", 0, 1},
        {"empty body", "", false, false, false, "=", 0, 1},
        {"broken XML", "<response timestamp=\"000000000079\"><jobs>", false, false, false, "=", 0,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        provider_.setFastCheckTimestamp(start);
        std::string bodyJson;
        for (char ch : c.body) {
            if (ch == '"' || ch == '\\')
                bodyJson += '\\';
            bodyJson += ch;
        }
        service_->addFault(
            R"({"match": {"path": "/fastCheck3.aspx"}, "status": 200, "content_type": "text/xml", "body": ")" +
            bodyJson + "\"}");
        bool changed = !c.changed;
        bool relogin = !c.relogin;
        error.clear();
        EXPECT_EQ(fastCheck(changed, relogin, error), c.ok) << error;
        EXPECT_EQ(changed, c.changed);
        EXPECT_EQ(relogin, c.relogin);
        EXPECT_EQ(provider_.fastCheckTimestamp(), c.markerAfter == "=" ? start : c.markerAfter);
        EXPECT_EQ(jobs_.count(), c.jobsAfter);
        EXPECT_EQ(remotePrinters_.count(), c.favoritesAfter);
        if (!c.ok) {
            EXPECT_EQ(error, "[Errors/NonXML]");
        }
    }
    EXPECT_EQ(config_.freePages(), 3);

    // After a reply without a marker the next request asks with an empty one; a marker with
    // URL syntax in it arrives as one parameter.
    bool changed = false;
    bool relogin = false;
    provider_.setFastCheckTimestamp("ab&c=d#e/f?g");
    ASSERT_TRUE(fastCheck(changed, relogin, error)) << error;
    provider_.setFastCheckTimestamp("");
    ASSERT_TRUE(fastCheck(changed, relogin, error)) << error;
    std::vector<std::string> queries = fastCheckQueries();
    ASSERT_GE(queries.size(), 2u);
    EXPECT_EQ(queries[queries.size() - 2], "d=ab%26c%3Dd%23e%2Ff%3Fg");
    EXPECT_EQ(queries.back(), "d=");
}

TEST_F(ConsoleInetProviderServiceTest, InjectedFaultsLeaveListsAndMarkerUnchanged) {
    std::string error;
    shareFirstLocalPrinterWithAJob();
    ASSERT_TRUE(provider_.loginWithToken(error)) << error;
    service_->seed(R"({"accounts": [{"login": "carol", "free_pages": 5}]})");
    const Snapshot before = snapshot();
    ASSERT_EQ(before.jobs, 1u);

    const struct {
        const char* fault;
        bool fastCheck;
        const char* error;
    } cases[] = {
        {R"({"match": {"path": "/fastCheck3.aspx"}, "status": 503, "body": "busy"})", true,
         "Service Unavailable"},
        {R"({"match": {"path": "/fastCheck3.aspx"}, "drop": true})", true, ""},
        {R"({"match": {"operation": "Login"}, "soap_message": "Maintenance"})", false,
         "Maintenance"},
        {R"({"match": {"operation": "Login"}, "status": 503, "body": "busy"})", false, ""},
        {R"({"match": {"operation": "Login"}, "drop": true})", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        service_->addFault(c.fault);
        bool changed = false;
        bool relogin = false;
        error.clear();
        const bool ok =
            c.fastCheck ? fastCheck(changed, relogin, error) : provider_.loginWithToken(error);
        EXPECT_FALSE(ok);
        EXPECT_FALSE(error.empty());
        if (*c.error != '\0') {
            EXPECT_EQ(error, c.error);
        }
        EXPECT_FALSE(changed);
        EXPECT_FALSE(relogin);
        EXPECT_EQ(snapshot(), before);
        EXPECT_TRUE(localPrinters_.objectAtIndex(0).shared());
    }
    // The change that happened meanwhile is still delivered afterwards.
    bool changed = false;
    bool relogin = false;
    ASSERT_TRUE(fastCheck(changed, relogin, error)) << error;
    EXPECT_TRUE(changed);
    EXPECT_EQ(config_.freePages(), 5);
}

TEST_F(ConsoleInetProviderServiceTest, UpdateDescriptionForThisPlatform) {
    std::string text;
    EXPECT_EQ(provider_.checkUpdates(text), std::nullopt);
    EXPECT_EQ(text, "No update url");

    std::string error;
    ASSERT_TRUE(provider_.loginWithToken(error)) << error;
    const struct {
        const char* offer;
        std::optional<std::string> href;
        std::string text;
    } cases[] = {
        {R"({"version": 1702, "size": 10240, "href": "{base}/downloads/v.pkg"})",
         service_->base() + "/downloads/v.pkg", "1.7.2 (10.0 Mb)"},
        {R"({"version": 1601, "size": 10240})", std::nullopt, "[Mac.UpdateDlg/NoUpdate]"},
        {R"({"version": 1900, "size": 10240, "platform": "mac"})", std::nullopt,
         "[Mac.UpdateDlg/NoUpdate]"},
        {"null", std::nullopt, "[Mac.UpdateDlg/NoUpdate]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offer);
        service_->seed(std::string(R"({"server": {"update": )") + c.offer + "}}");
        EXPECT_EQ(provider_.checkUpdates(text), c.href);
        EXPECT_EQ(text, c.text);
    }

    service_->addFault(R"({"match": {"path": "/update.xml"}, "status": 200, "body": "<updates"})");
    EXPECT_EQ(provider_.checkUpdates(text), std::nullopt);
    EXPECT_EQ(text, "[Errors/NonXML]");
    service_->addFault(R"({"match": {"path": "/update.xml"}, "status": 404})");
    EXPECT_EQ(provider_.checkUpdates(text), std::nullopt);
    EXPECT_EQ(text, "Not Found");
}

// The settings hand the real lists their sections of the profile file and back.
TEST_F(ConsoleInetProviderServiceTest, ProfileFileKeepsSharingIdentitiesAndDirectJobs) {
    config_.setProfile("carol.example");
    config_.setProfileConfigVersion(1601);
    config_.setProfileSections(localPrinters_, jobs_);
    ASSERT_TRUE(localPrinters_.updatePrinter(
        "Desk", [](LocalPrinter& printer) { printer.setShareTitle("Front <desk> & \"co\""); }));
    const std::string deskId = localPrinters_.objectAtIndex(0).localTitle() == "Desk"
                                   ? localPrinters_.objectAtIndex(0).publicId()
                                   : localPrinters_.objectAtIndex(1).publicId();
    pugi::xml_document request;
    pugi::xml_node data = request.append_child("data");
    appendElement(appendElement(data, "job"), "document", "Notes");
    ASSERT_TRUE(jobs_.startReceivingPtpJob(data).has_value());
    ASSERT_TRUE(config_.saveProfileConfig());

    // The next run: fresh lists from the print system, then the profile file, twice.
    LocalPrinterArray printers(cupsd_->socketPath());
    ASSERT_TRUE(printers.loadFromSystem());
    CountingDispatcher dispatcher;
    JobArray jobs(dispatcher, {[this] { return profile_.path(); }, [] {}});
    ListWatcher watcher;
    jobs.addDelegate(&watcher);
    ConsoleConfig next(profile_.path());
    next.setProfile("carol.example");
    next.setProfileSections(printers, jobs);
    ASSERT_TRUE(next.loadProfileConfig());
    ASSERT_TRUE(next.loadProfileConfig());
    jobs.removeDelegate(&watcher);

    EXPECT_EQ(next.profileConfigVersion(), 1601);
    std::optional<LocalPrinter> desk = printers.getPrinter(deskId);
    ASSERT_TRUE(desk.has_value());
    EXPECT_EQ(desk->localTitle(), "Desk");
    EXPECT_EQ(desk->shareTitle(), "Front <desk> & \"co\"");
    ASSERT_EQ(jobs.count(), 1u);
    EXPECT_TRUE(jobs.objectAtIndex(0).isPTP());
    EXPECT_EQ(jobs.objectAtIndex(0).title(), "Notes");
    // Restored jobs are not news.
    EXPECT_EQ(std::accumulate(watcher.addedCounts.begin(), watcher.addedCounts.end(), 0), 0);
}

// Each account and search request, byte for byte as the service received it, and its outcome.
TEST_F(ConsoleInetProviderServiceTest, AccountAndSearchRequests) {
    std::string error;
    const std::string service = service_->serviceUrl();

    std::vector<PrinterGroup> groups;
    std::map<std::string, std::string> properties{{"allow-registration", "old"}, {"x", "y"}};
    ASSERT_TRUE(provider_.getServerConfig(service, groups, properties, error)) << error;
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[1].serverId(), 9);
    EXPECT_EQ(groups[1].name(), "Guests & <Friends>");
    EXPECT_EQ(properties,
              (std::map<std::string, std::string>{{"allow-registration", "true"}, {"x", "y"}}));

    config_.setToken("");
    ASSERT_TRUE(provider_.userRegister("erin@example.test", service, 0, error)) << error;
    EXPECT_FALSE(config_.token().empty());
    EXPECT_EQ(user_.mail(), "erin@example.test");
    EXPECT_EQ(config_.lastEmail(), "erin@example.test");
    ASSERT_TRUE(provider_.userRegister("fay@example.test", service, -3, error)) << error;
    ASSERT_TRUE(provider_.userRegister("gus@example.test", service, 7, error)) << error;
    EXPECT_THAT(params("UserRegister"),
                ElementsAre(R"(<data xmlns=""><user><mail>erin@example.test</mail></user></data>)",
                            R"(<data xmlns=""><user><mail>fay@example.test</mail></user></data>)",
                            R"(<data xmlns=""><user><mail>gus@example.test</mail></user>)"
                            R"(<group>7</group></data>)"));

    config_.setToken("tok-carol");
    ASSERT_TRUE(provider_.passwordReminder("bob@example.test", service, error)) << error;
    EXPECT_FALSE(provider_.passwordReminder("nobody@example.test", service, error));
    EXPECT_EQ(error, "No account uses this e-mail address");
    EXPECT_THAT(params("PasswordReminder"),
                ElementsAre(R"(<data xmlns=""><mail>bob@example.test</mail></data>)",
                            R"(<data xmlns=""><mail>nobody@example.test</mail></data>)"));

    ASSERT_TRUE(provider_.setPermission(std::string("Block"), 2, error)) << error;
    ASSERT_TRUE(provider_.setPermission(std::nullopt, 0, error)) << error;
    EXPECT_THAT(params("SetPermission"),
                ElementsAre(R"(<data xmlns=""><token>tok-carol</token>)"
                            R"(<rule permission="Block" client="2"/></data>)",
                            R"(<data xmlns=""><token>tok-carol</token>)"
                            R"(<rule permission="-1"/></data>)"));

    std::vector<Person> users(1);
    ASSERT_TRUE(provider_.searchUsers("bob", users, error)) << error;
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[1].login(), "bob");
    EXPECT_EQ(users[1].serverId(), 2);
    ASSERT_TRUE(provider_.searchUsers("no such user", users, error)) << error;
    EXPECT_EQ(users.size(), 2u);
    EXPECT_THAT(
        params("SearchUsers"),
        ElementsAre(R"(<data xmlns=""><token>tok-carol</token><keyword>bob</keyword></data>)",
                    R"(<data xmlns=""><token>tok-carol</token>)"
                    R"(<keyword>no such user</keyword></data>)"));

    RemotePrinterArray found;
    ASSERT_TRUE(provider_.searchPrinters("Plot", false, found, error)) << error;
    ASSERT_EQ(found.count(), 1u);
    EXPECT_EQ(found.objectAtIndex(0)->publicId(), kPlotter);
    EXPECT_EQ(found.objectAtIndex(0)->owner().login(), "bob");
    ASSERT_TRUE(provider_.searchPrinters("", true, found, error)) << error;
    EXPECT_EQ(found.count(), 2u);
    const std::string fields =
        "<fields>title,location,owner.login,owner.nick,owner.country</fields></data>";
    EXPECT_THAT(params("SearchPrinters"),
                ElementsAre(R"(<data xmlns="" page-size="100"><token>tok-carol</token>)"
                            R"(<keyword>Plot</keyword>)" +
                                fields,
                            R"(<data xmlns="" page-size="100" online="true">)"
                            R"(<token>tok-carol</token><keyword/>)" +
                                fields));

    user_.setProperty(Person::kNick, "Caro <&> \"C\"");
    user_.setProperty(Person::kLogin, "carol");
    user_.setProperty(Person::kMail, "carol@example.test");
    user_.setServerId(3);
    ASSERT_TRUE(provider_.updateProfile(error)) << error;
    const std::string profile = params("UpdateProfile").at(0);
    EXPECT_THAT(profile, HasSubstr("<nick>Caro &lt;&amp;&gt; \"C\"</nick>"));
    EXPECT_THAT(profile,
                ::testing::StartsWith(R"(<data xmlns=""><token>tok-carol</token><user><mail>)"));
    EXPECT_THAT(profile, ::testing::Not(HasSubstr("id=")));

    ASSERT_TRUE(provider_.changePassword("carol-pw", "new-pw", error)) << error;
    EXPECT_NE(config_.token(), "tok-carol");
    EXPECT_FALSE(config_.token().empty());
    EXPECT_THAT(params("ChangePassword"),
                ElementsAre(R"(<data xmlns=""><token>tok-carol</token>)"
                            R"(<old-password>carol-pw</old-password>)"
                            R"(<new-password>new-pw</new-password></data>)"));
    const std::string token = config_.token();
    EXPECT_FALSE(provider_.changePassword("carol-pw", "x", error));
    EXPECT_EQ(error, "Incorrect password");
    EXPECT_EQ(config_.token(), token);
    EXPECT_THAT(params("GetServerConfig"), ElementsAre(R"(<data xmlns=""/>)"));
}

TEST_F(ConsoleInetProviderServiceTest, FailedSearchesAndConfigurationCallsAddNothing) {
    std::string error;
    service_->addFault(R"({"match": {"operation": "SearchUsers"}, "soap_message": "Down"})");
    service_->addFault(R"({"match": {"operation": "GetServerConfig"}, "drop": true})");
    std::vector<Person> users(2);
    EXPECT_FALSE(provider_.searchUsers("bob", users, error));
    EXPECT_EQ(error, "Down");
    EXPECT_EQ(users.size(), 2u);
    RemotePrinterArray found;
    ASSERT_TRUE(provider_.searchPrinters("", false, found, error)) << error;
    ASSERT_EQ(found.count(), 2u);
    service_->addFault(R"({"match": {"operation": "SearchPrinters"}, "status": 503})");
    EXPECT_FALSE(provider_.searchPrinters("", false, found, error));
    EXPECT_EQ(found.count(), 2u);
    std::vector<PrinterGroup> groups;
    std::map<std::string, std::string> properties;
    EXPECT_FALSE(provider_.getServerConfig(service_->serviceUrl(), groups, properties, error));
    EXPECT_TRUE(groups.empty());
    EXPECT_TRUE(properties.empty());
}

// The lists a provider fills, for tests against a server of their own.
struct StandaloneProvider {
    explicit StandaloneProvider(int port)
        : config(folder.path()),
          localPrinters((folder.path() / "no-cupsd.sock").string()),
          jobs(dispatcher, {[this] { return folder.path(); }, [] {}}),
          provider(config, user, {permissions, remotePrinters, localPrinters, jobs}, translator) {
        config.setService("http://127.0.0.1:" + std::to_string(port) + "/tdService.asmx");
        config.setToken("tok");
        provider.setFastCheckTimestamp("000000000001");
    }
    ScratchDirectory folder{"velmora-console-hostile"};
    ConsoleConfig config;
    Person user;
    PermissionArray permissions;
    RemotePrinterArray remotePrinters;
    LocalPrinterArray localPrinters;
    CountingDispatcher dispatcher;
    JobArray jobs;
    DefaultTranslator translator;
    ConsoleInetProvider provider;
};

TEST(ConsoleInetProviderHostileServerTest, FastCheckRepliesThatAreNotWhatTheyClaim) {
    std::string body;
    test::LoopbackHttpServer server([&](const test::LoopbackHttpServer::Request&) {
        test::LoopbackHttpServer::Reply reply;
        reply.body = body;
        return reply;
    });
    StandaloneProvider standalone(server.port());
    ConsoleInetProvider& provider = standalone.provider;
    bool changed = true;
    bool relogin = true;
    std::string error;

    // An answer that does not end stops at a service reply's size, not at a page download's.
    body.assign(InetProvider::kMaxSoapReplyBytes + 1, '0');
    EXPECT_FALSE(provider.fastCheck(changed, relogin, error));
    EXPECT_THAT(error, HasSubstr(std::to_string(InetProvider::kMaxSoapReplyBytes)));
    EXPECT_EQ(provider.fastCheckTimestamp(), "000000000001");

    // Twelve bytes that are not text.
    body = "\xff\xfe\xfd\xfc\xfb\xfa\xf9\xf8\xf7\xf6\xf5\xf4";
    EXPECT_FALSE(provider.fastCheck(changed, relogin, error));
    EXPECT_EQ(error, "Invalid XML in response");
    EXPECT_EQ(provider.fastCheckTimestamp(), "000000000001");

    // Twelve characters in more than twelve bytes are a marker; twelve bytes in fewer
    // characters are not.
    body =
        "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"
        "\xc3\xa9";
    EXPECT_TRUE(provider.fastCheck(changed, relogin, error)) << error;
    EXPECT_EQ(provider.fastCheckTimestamp(), body);
    const std::string previous = body;
    body = "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9";
    EXPECT_TRUE(provider.fastCheck(changed, relogin, error)) << error;
    EXPECT_EQ(provider.fastCheckTimestamp(), previous);
    EXPECT_FALSE(changed);

    // The update description is bounded the same way.
    standalone.config.setUpdateUrl(server.url("/update.xml"));
    body.assign(InetProvider::kMaxSoapReplyBytes + 1, '<');
    std::string text;
    EXPECT_EQ(provider.checkUpdates(text), std::nullopt);
    EXPECT_THAT(text, HasSubstr(std::to_string(InetProvider::kMaxSoapReplyBytes)));

    // The service's port is kept, and the marker arrives encoded.
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].target, "/fastCheck3.aspx?d=000000000001");
    EXPECT_EQ(requests[0].header("td-token"), "tok");
    EXPECT_EQ(
        requests[3].target,
        "/fastCheck3.aspx?d=" +
            std::string(12, 'x').replace(
                0, 12, "%C3%A9%C3%A9%C3%A9%C3%A9%C3%A9%C3%A9%C3%A9%C3%A9%C3%A9%C3%A9%C3%A9%C3%A9"));
}

TEST(ConsoleInetProviderUrlTest, FastCheckUrlKeepsThePortAndEncodesTheMarker) {
    const struct {
        const char* service;
        const char* marker;
        const char* expected;
    } cases[] = {
        {"https://service.example/tdService.asmx", "000000000012",
         "https://service.example/fastCheck3.aspx?d=000000000012"},
        {"http://127.0.0.1:8123/tdService.asmx", "000000000012",
         "http://127.0.0.1:8123/fastCheck3.aspx?d=000000000012"},
        {"service.example/tdService.asmx", "1", "https://service.example/fastCheck3.aspx?d=1"},
        {"https://user:pw@service.example:444/x?y#z", "",
         "https://service.example:444/fastCheck3.aspx?d="},
        {"http://[::1]:8080/tdService.asmx", "a b", "http://[::1]:8080/fastCheck3.aspx?d=a%20b"},
        {"https://s.example", "&d=1#x/%?",
         "https://s.example/fastCheck3.aspx?d=%26d%3D1%23x%2F%25%3F"},
        {"https://s.example", "-._~Az09", "https://s.example/fastCheck3.aspx?d=-._~Az09"},
        {"https://s.example", "\xc3\xa9\r\n", "https://s.example/fastCheck3.aspx?d=%C3%A9%0D%0A"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ConsoleInetProvider::fastCheckUrl(c.service, c.marker), c.expected)
            << c.service << " " << c.marker;
    }
}

TEST(ConsoleInetProviderUrlTest, UpdateDescriptionFormat) {
    EXPECT_EQ(ConsoleInetProvider::updateDescription(1702, 10240), "1.7.2 (10.0 Mb)");
    EXPECT_EQ(ConsoleInetProvider::updateDescription(2015, 512), "2.0.15 (0.5 Mb)");
    EXPECT_EQ(ConsoleInetProvider::updateDescription(12345, 0), "12.3.45 (0.0 Mb)");
}

}  // namespace
}  // namespace velmora::console
