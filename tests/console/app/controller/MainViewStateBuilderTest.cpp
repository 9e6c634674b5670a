#include "console/app/controller/MainViewStateBuilder.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <sstream>

#include <string>

#include "console/jobs/LocalPrinter.h"
#include "console/jobs/LocalPrinterArray.h"
#include "console/service/ConsoleConfig.h"
#include "console/service/Translator.h"
#include "core/account/Person.h"
#include "core/model/RemotePrinterArray.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

// Texts come back marked, so a test sees that a translation was asked for.
class MarkingTranslator : public Translator {
  public:
    std::string section(const std::string& sectionName, const std::string& key,
                        const std::string& deflt) const override {
        return sectionName == "HTML" && key == "Idle" ? "Bereit" : deflt;
    }
};

// Remote printers as the service lists them.
RemotePrinterArray remoteList(const std::string& printersXml, const std::string& defaultId = "") {
    pugi::xml_document document;
    const std::string text =
        "<favorites default=\"" + defaultId + "\">" + printersXml + "</favorites>";
    EXPECT_TRUE(document.load_string(text.c_str()));
    RemotePrinterArray printers;
    printers.parse(document.child("favorites"), false);
    return printers;
}

std::string printerXml(const std::string& id, const std::string& title, int ownerId,
                       const std::string& nick) {
    pugi::xml_document document;
    pugi::xml_node printer = document.append_child("printer");
    printer.append_attribute("online") = "true";
    printer.append_child("public-id").text() = id.c_str();
    printer.append_child("title").text() = title.c_str();
    pugi::xml_node owner = printer.append_child("owner");
    owner.append_attribute("id") = ownerId;
    owner.append_child("nick").text() = nick.c_str();
    std::ostringstream out;
    document.save(out, "", pugi::format_raw | pugi::format_no_declaration);
    return out.str();
}

class MainViewStateBuilderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        pugi::xml_document document;
        document.load_string("<user id=\"7\"><login>carol</login><nick>Caz</nick></user>");
        me_.parse(document.child("user"));
        config_.setService("https://print.example.test:8443/tdService.asmx");
    }

    MainViewState build(const RemotePrinterArray& remote, bool active = true) {
        const MainViewStateBuilder::Model model{config_, me_, local_, remote, translator_, 0};
        return MainViewStateBuilder::build(
            model, active, MainViewStateBuilder::filterRemotePrinters(remote, local_, false));
    }

    test::ScratchDirectory scratch_{"velmora-state"};
    ConsoleConfig config_{scratch_.path()};
    Person me_;
    LocalPrinterArray local_{"/nonexistent/cups.sock"};
    MarkingTranslator translator_;
};

// Another user's title cannot pass for the default printer, nor break a line or a cell.
TEST_F(MainViewStateBuilderTest, TheDefaultIsMarkedByIdAndTitlesArePlainText) {
    const auto remote = remoteList(printerXml("p1", "\tFake default", 3, "Mal\nlory") +
                                       printerXml("p2", "Real\x1b[31m one\x7f", 3, "Bob"),
                                   "p2");
    const MainViewState state = build(remote);
    ASSERT_EQ(state.remotePrinters.size(), 2u);
    EXPECT_FALSE(state.remotePrinters[0].isDefault);
    EXPECT_EQ(state.remotePrinters[0].title, "Fake default");
    EXPECT_EQ(state.remotePrinters[0].owner, "Mallory");
    EXPECT_TRUE(state.remotePrinters[1].isDefault);
    EXPECT_EQ(state.remotePrinters[1].title, "Real[31m one");
}

TEST_F(MainViewStateBuilderTest, OwnPrintersShowTheOwnerAsMine) {
    const auto remote =
        remoteList(printerXml("p1", "Mine", 7, "Caz") + printerXml("p2", "Theirs", 8, "Bob"));
    const MainViewState state = build(remote);
    EXPECT_EQ(state.remotePrinters[0].owner, "Caz (my)");
    EXPECT_EQ(state.remotePrinters[1].owner, "Bob");
}

// Before anyone signed in, a printer without an owner is nobody's.
TEST_F(MainViewStateBuilderTest, NoOwnerIsNotMineWhileSignedOut) {
    Person nobody;
    const auto remote = remoteList("<printer><public-id>p1</public-id></printer>");
    const MainViewStateBuilder::Model model{config_, nobody, local_, remote, translator_, 0};
    const auto state = MainViewStateBuilder::build(
        model, true, MainViewStateBuilder::filterRemotePrinters(remote, local_, false));
    EXPECT_EQ(state.remotePrinters[0].owner, "");
}

TEST_F(MainViewStateBuilderTest, LocalStatesAreTranslatedWordsAndUnknownOnesAreErrors) {
    const struct {
        uint16_t status;
        const char* text;
    } cases[] = {{3, "Bereit"}, {4, "Processing"}, {5, "Paused"}, {6, "Error"}, {0, "Error"}};
    for (const auto& [status, text] : cases) {
        SCOPED_TRACE(status);
        EXPECT_EQ(MainViewStateBuilder::statusText(status, translator_), text);
    }
}

TEST_F(MainViewStateBuilderTest, TheAccountAreaFollowsPremiumAndThePageLimit) {
    const RemotePrinterArray none;
    config_.setFreePages(0);
    EXPECT_EQ(build(none).account, MainViewState::Account::PageLimit);
    EXPECT_EQ(build(none).freePages, 0);
    config_.setFreePages(-1);
    EXPECT_EQ(build(none).account, MainViewState::Account::Hidden);
    me_.setPremium(true);
    EXPECT_EQ(build(none).account, MainViewState::Account::Premium);
    // Signed out, nothing of the account shows.
    const MainViewState inactive = build(none, false);
    EXPECT_EQ(inactive.account, MainViewState::Account::Hidden);
    EXPECT_EQ(inactive.user, "");
}

TEST_F(MainViewStateBuilderTest, UserAndDomainComeFromTheAccountAndTheServiceAddress) {
    const MainViewState state = build(RemotePrinterArray());
    EXPECT_EQ(state.user, "Caz");
    EXPECT_EQ(state.domain, "print.example.test");
    EXPECT_FALSE(state.hasToken);
    config_.setToken("tok");
    EXPECT_TRUE(build(RemotePrinterArray()).hasToken);
}

TEST_F(MainViewStateBuilderTest, HostOfAnyServiceAddress) {
    const struct {
        const char* url;
        const char* host;
    } cases[] = {{"https://a.example/tdService.asmx", "a.example"},
                 {"http://127.0.0.1:8080/x", "127.0.0.1"},
                 {"https://user@b.example:1/", "b.example"},
                 {"https://[::1]:443/x", "[::1]"},
                 {"c.example", "c.example"},
                 {"", ""}};
    for (const auto& [url, host] : cases)
        EXPECT_EQ(MainViewStateBuilder::hostOf(url), host) << url;
}

}  // namespace
}  // namespace velmora::console
