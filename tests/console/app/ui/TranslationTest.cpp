#include "console/app/ui/Translation.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCommandLinkButton>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>

#include <filesystem>
#include <string>
#include <vector>

#include "console/service/ConsoleConfig.h"
#include "tests/console/app/ui/QtTestPrinting.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora::console {
namespace {

using test::ScratchDirectory;

std::string languageFile(const std::string& name, const std::string& sections) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<language name=\"" + name + "\">" +
           sections + "</language>";
}

const std::string kGermanTexts = languageFile(
    "Deutsch",
    "<section id=\"LoginDlg\"><text id=\"Caption\">Anmelden</text>"
    "<text id=\"OK\">Weiter</text><text id=\"Empty\"></text></section>"
    "<section id=\"MainMenu\"><text id=\"Quit\">Beenden <b>jetzt</b></text></section>");

class TranslationTest : public ::testing::Test {
  protected:
    TranslationTest() : config_(scratch_.path()) {
        std::filesystem::create_directories(config_.getLangDir());
    }

    void install(const std::string& fileName, const std::string& text) const {
        ScratchDirectory::writeFile(config_.getLangDir() / fileName, text);
    }
    // The translation as the console loads it at start-up.
    bool start(const std::string& fileName) {
        config_.setTranslation(fileName);
        translation_.loadAvailable();
        return translation_.loadCurrent();
    }

    ScratchDirectory scratch_;
    ConsoleConfig config_;
    Translation translation_{config_};
};

TEST_F(TranslationTest, WithoutTranslationEveryTextIsItsDefaultOrItsKey) {
    install("de_DE.xml", kGermanTexts);
    EXPECT_FALSE(start(""));
    EXPECT_EQ(translation_.section("LoginDlg", "Caption", "Sign in"), "Sign in");
    EXPECT_EQ(translation_.section("LoginDlg", "Caption"), "Caption");
    EXPECT_EQ(translation_.text(kNoUpdateText), kNoUpdateText.deflt);
}

TEST_F(TranslationTest, LoadedTextsReplaceDefaultsAndMissingOnesDoNot) {
    install("de_DE.xml", kGermanTexts);
    ASSERT_TRUE(start("de_DE.xml"));
    EXPECT_EQ(translation_.section("LoginDlg", "Caption", "Sign in"), "Anmelden");
    EXPECT_EQ(translation_.section("LoginDlg", "Missing", "Fallback"), "Fallback");
    EXPECT_EQ(translation_.section("NoSection", "Caption"), "Caption");
    // A text is its element's whole string value, markup inside it included as text.
    EXPECT_EQ(translation_.section("MainMenu", "Quit"), "Beenden jetzt");
    EXPECT_EQ(translation_.qtext("LoginDlg", "OK", "OK"), QStringLiteral("Weiter"));
}

TEST_F(TranslationTest, OnlyWellFormedLowerCaseXmlFilesWithANameAreListed) {
    struct File {
        std::string name;
        std::string text;
        bool listed;
    };
    const std::vector<File> files = {
        {"de_DE.xml", kGermanTexts, true},
        {".xml", languageFile("Short", ""), true},
        {"fr_FR.XML", languageFile("Français", ""), false},
        {"it_IT.Xml", languageFile("Italiano", ""), false},
        {"nl_NL.xml.bak", languageFile("Nederlands", ""), false},
        {"xml", languageFile("Bare", ""), false},
        {"noname.xml", "<language><section id=\"A\"/></language>", false},
        {"broken.xml", "<language name=\"Broken\"><section></language>", false},
        {"latin1.xml", languageFile("Espa\xf1ol", ""), false},
        {"huge.xml", languageFile("Huge", std::string(Translation::kMaxFileSize, ' ')), false},
        // Few bytes, many nodes: refused before the parser builds them.
        {"nodes.xml",
         languageFile("Nodes",
                      [] {
                          std::string many;
                          for (size_t i = 0; i <= Translation::kMaxNodes; ++i)
                              many += "<a/>";
                          return many;
                      }()),
         false},
    };
    for (const File& file : files)
        install(file.name, file.text);
    std::filesystem::create_directory(config_.getLangDir() / "folder.xml");
    std::filesystem::create_symlink(config_.getLangDir() / "de_DE.xml",
                                    config_.getLangDir() / "link.xml");

    translation_.loadAvailable();
    for (const File& file : files)
        EXPECT_EQ(translation_.available().contains(file.name), file.listed) << file.name;
    EXPECT_EQ(translation_.available().at("de_DE.xml"), "Deutsch");
    EXPECT_FALSE(translation_.available().contains("folder.xml"));
    EXPECT_FALSE(translation_.available().contains("link.xml"));
}

TEST_F(TranslationTest, MissingLanguageFolderListsNothing) {
    std::filesystem::remove(config_.getLangDir());
    translation_.loadAvailable();
    EXPECT_TRUE(translation_.available().empty());
    EXPECT_FALSE(translation_.loadCurrent());
}

TEST_F(TranslationTest, ListingStopsAtItsBounds) {
    for (size_t i = 0; i < Translation::kMaxListedFiles + 20; ++i)
        install("l" + std::to_string(i) + ".xml", languageFile("L", ""));
    translation_.loadAvailable();
    EXPECT_EQ(translation_.available().size(), Translation::kMaxListedFiles);

    // Files that are read but not listed count too.
    std::filesystem::remove_all(config_.getLangDir());
    std::filesystem::create_directories(config_.getLangDir());
    for (size_t i = 0; i < Translation::kMaxReadFiles; ++i)
        install("bad" + std::to_string(i) + ".xml", "<unnamed/>");
    install("good.xml", languageFile("Good", ""));
    translation_.loadAvailable();
    EXPECT_LE(translation_.available().size(), 1u);
}

TEST_F(TranslationTest, APipeNamedLikeATranslationDoesNotHoldUpTheListing) {
    const std::filesystem::path pipe = config_.getLangDir() / "pipe.xml";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    install("de_DE.xml", kGermanTexts);
    translation_.loadAvailable();
    EXPECT_FALSE(translation_.available().contains("pipe.xml"));
    EXPECT_TRUE(translation_.available().contains("de_DE.xml"));
}

TEST_F(TranslationTest, LaterSectionWithTheSameIdReplacesTheEarlierOne) {
    install("dup.xml", languageFile("Dup",
                                    "<section id=\"Common\"><text id=\"OK\">first</text>"
                                    "<text id=\"Cancel\">only in first</text></section>"
                                    "<section><text id=\"OK\">no section id</text></section>"
                                    "<section id=\"Common\"><text id=\"OK\">second</text>"
                                    "<text id=\"OK\">third</text><text>no key</text></section>"));
    ASSERT_TRUE(start("dup.xml"));
    EXPECT_EQ(translation_.section("Common", "OK"), "third");
    EXPECT_EQ(translation_.section("Common", "Cancel", "Cancel default"), "Cancel default");
    EXPECT_EQ(translation_.section("", "OK", "none"), "none");
}

TEST_F(TranslationTest, ANameTheListingDidNotProduceIsNeverOpened) {
    ScratchDirectory::writeFile(scratch_.path() / "outside.xml",
                                languageFile("Outside",
                                             "<section id=\"S\"><text id=\"K\">"
                                             "planted</text></section>"));
    const std::vector<std::string> names = {"../outside.xml", "lang/../../outside.xml",
                                            (scratch_.path() / "outside.xml").string()};
    for (const std::string& name : names) {
        EXPECT_FALSE(start(name)) << name;
        EXPECT_EQ(translation_.section("S", "K", "default"), "default") << name;
    }

    // Installed after the listing: not loaded until the next start lists it.
    config_.setTranslation("late.xml");
    translation_.loadAvailable();
    install("late.xml", languageFile("Late",
                                     "<section id=\"S\"><text id=\"K\">late</text>"
                                     "</section>"));
    EXPECT_FALSE(translation_.loadCurrent());
    EXPECT_TRUE(start("late.xml"));
    EXPECT_EQ(translation_.section("S", "K"), "late");
}

TEST_F(TranslationTest, AFileReplacedBySomethingElseAfterListingIsNotRead) {
    install("de_DE.xml", kGermanTexts);
    config_.setTranslation("de_DE.xml");
    translation_.loadAvailable();
    std::filesystem::remove(config_.getLangDir() / "de_DE.xml");
    std::filesystem::create_symlink(scratch_.path() / "elsewhere.xml",
                                    config_.getLangDir() / "de_DE.xml");
    ScratchDirectory::writeFile(scratch_.path() / "elsewhere.xml", kGermanTexts);
    EXPECT_FALSE(translation_.loadCurrent());
    EXPECT_EQ(translation_.section("LoginDlg", "Caption", "Sign in"), "Sign in");
}

// Every user may write into the shared folder: a translation another user planted there, or one
// anybody may rewrite, would put that user's words into this console.
TEST_F(TranslationTest, ATranslationOthersCanWriteIsNeitherListedNorLoaded) {
    struct Planted {
        std::string name;
        bool foreignOwner;
        mode_t mode;
    };
    const std::vector<Planted> planted = {
        {"nobody.xml", true, 0644}, {"everyone.xml", false, 0666}, {"group.xml", false, 0664}};
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file to another user needs root";
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    for (const Planted& file : planted) {
        const std::filesystem::path path = config_.getLangDir() / file.name;
        install(file.name, languageFile("Planted",
                                        "<section id=\"LoginDlg\">"
                                        "<text id=\"Caption\">Send your password to "
                                        "evil.example</text></section>"));
        ASSERT_EQ(::chmod(path.c_str(), file.mode), 0);
        if (file.foreignOwner) {
            ASSERT_EQ(::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        }
    }
    install("de_DE.xml", kGermanTexts);
    for (const Planted& file : planted) {
        EXPECT_FALSE(start(file.name)) << file.name;
        EXPECT_FALSE(translation_.available().contains(file.name)) << file.name;
        EXPECT_EQ(translation_.section("LoginDlg", "Caption", "Sign in"), "Sign in") << file.name;
    }
    EXPECT_TRUE(start("de_DE.xml"));
}

TEST_F(TranslationTest, TextsApplyOnlyToTheirExactControlClasses) {
    install("de_DE.xml", languageFile("Deutsch",
                                      "<section id=\"D\"><text id=\"T\">übersetzt</text>"
                                      "</section>"));
    ASSERT_TRUE(start("de_DE.xml"));
    const QString designed = QStringLiteral("designed");
    const QString translated = QString::fromUtf8("übersetzt");

    QDialog window;
    window.setWindowTitle(designed);
    auto* label = new QLabel(designed, &window);
    auto* button = new QPushButton(designed, &window);
    auto* checkBox = new QCheckBox(designed, &window);
    auto* groupBox = new QGroupBox(designed, &window);
    auto* action = new QAction(designed, &window);
    // Subclasses and other kinds keep their designed text.
    auto* commandLink = new QCommandLinkButton(designed, &window);
    auto* password = new QLineEdit(designed, &window);
    password->setEchoMode(QLineEdit::Password);
    auto* combo = new QComboBox(&window);
    combo->addItem(designed);
    combo->setEditable(true);
    combo->setEditText(designed);

    for (QObject* control : std::vector<QObject*>{&window, label, button, checkBox, groupBox,
                                                  action, commandLink, password, combo})
        translation_.control(control, "D", "T");

    EXPECT_EQ(window.windowTitle(), translated);
    EXPECT_EQ(label->text(), translated);
    EXPECT_EQ(button->text(), translated);
    EXPECT_EQ(checkBox->text(), translated);
    EXPECT_EQ(groupBox->title(), translated);
    EXPECT_EQ(action->text(), translated);
    EXPECT_EQ(commandLink->text(), designed);
    EXPECT_EQ(password->text(), designed);
    EXPECT_EQ(combo->currentText(), designed);
    EXPECT_EQ(combo->windowTitle(), QString());

    // A key the translation lacks leaves the designed text.
    translation_.control(label, "D", "Missing");
    translation_.control(nullptr, "D", "T");
    EXPECT_EQ(label->text(), translated);
}

TEST_F(TranslationTest, ControlsSharingAKeyAllReceiveTheText) {
    install("de_DE.xml", kGermanTexts);
    ASSERT_TRUE(start("de_DE.xml"));
    QAction menuItem(QStringLiteral("Quit"));
    QAction trayItem(QStringLiteral("Quit"));
    QWidget window;
    auto* caption = new QLabel(QStringLiteral("Sign in"), &window);
    translation_.group({{&menuItem, "Quit"}, {&trayItem, "Quit"}}, "MainMenu");
    translation_.group({{caption, "OK"}}, "LoginDlg");
    EXPECT_EQ(menuItem.text(), QStringLiteral("Beenden jetzt"));
    EXPECT_EQ(trayItem.text(), QStringLiteral("Beenden jetzt"));
    EXPECT_EQ(caption->text(), QStringLiteral("Weiter"));

    QStandardItemModel table(0, 2);
    table.setHorizontalHeaderLabels({QStringLiteral("Printer"), QStringLiteral("State")});
    translation_.control(TableColumn{&table, 1}, "LoginDlg", "Caption");
    translation_.control(TableColumn{&table, 0}, "LoginDlg", "Missing");
    EXPECT_EQ(table.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Printer"));
    EXPECT_EQ(table.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Anmelden"));
}

TEST(TranslationFormatTest, PlaceholdersAreFilledOneTokenAtATime) {
    struct Case {
        std::string text;
        std::vector<std::string> args;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"%i of %i pages", {"3", "10"}, "3 of 10 pages"},
        {"Printer %@ is %d%% done", {"Laser", "50"}, "Printer Laser is 50% done"},
        // An argument's own placeholders and format directives stay as they are.
        {"Job %@", {"%@ %s %n %i"}, "Job %@ %s %n %i"},
        {"%@ and %@", {"one"}, "one and "},
        {"no placeholders", {"unused"}, "no placeholders"},
        {"trailing %", {}, "trailing %"},
        {"%s %x stay", {"a"}, "%s %x stay"},
        {"", {"a"}, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string_view> views(c.args.begin(), c.args.end());
        std::string filled;
        switch (views.size()) {
            case 0:
                filled = Translation::format(c.text, {});
                break;
            case 1:
                filled = Translation::format(c.text, {views[0]});
                break;
            default:
                filled = Translation::format(c.text, {views[0], views[1]});
        }
        EXPECT_EQ(filled, c.expected) << c.text;
    }
    EXPECT_EQ(Translation::format(QString::fromUtf8("%@ – %i"),
                                  {QString::fromUtf8("Drucker %@"), QStringLiteral("7")}),
              QString::fromUtf8("Drucker %@ – 7"));
}

}  // namespace
}  // namespace velmora::console
