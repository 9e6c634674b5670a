#include "core/xml/XmlHelpers.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include "tests/support/XmlTesting.h"

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

namespace velmora {
namespace {

TEST(XmlHelpers, FindNodeIsPreOrderAndStartsWithTheNodeItself) {
    auto document = test::parsedXml(
        "<response><a><response id='nested'/></a><response id='second'/></response>");
    pugi::xml_node root = document.document_element();
    EXPECT_EQ(findNodeOrChild("response", root), root);
    pugi::xml_node a = root.child("a");
    EXPECT_EQ(getAttribute(findNodeOrChild("response", a), "id"), "nested");
    auto deep = test::parsedXml(
        "<Envelope><Body><x><y><response n='1'/></y></x><response n='2'/></Body></Envelope>");
    EXPECT_EQ(getAttribute(findNodeByName(deep, "response"), "n"), "1");
    EXPECT_FALSE(findNodeByName(deep, "absent"));
}

TEST(XmlHelpers, SearchesStayInsideTheStartNodeAndSurviveDeepNesting) {
    auto document = test::parsedXml("<r><a><b>x<c>y</c></b><d/></a><e>z</e><d id='outside'/></r>");
    pugi::xml_node a = document.document_element().child("a");
    EXPECT_FALSE(findNodeOrChild("e", a));
    EXPECT_EQ(findNodeOrChild("d", a), a.child("d"));
    EXPECT_EQ(childText(a, "b"), "xy");
    EXPECT_EQ(childText(document.document_element(), "."), "xyz");

    constexpr int depth = 200000;
    std::string deep = "<t>";
    for (int i = 0; i < depth; ++i)
        deep += "<a>";
    deep += "text<found/>";
    for (int i = 0; i < depth; ++i)
        deep += "</a>";
    deep += "</t>";
    auto nested = test::parsedXml(deep);
    EXPECT_EQ(childText(nested, "t"), "text");
    EXPECT_TRUE(findNodeByName(nested, "found"));
    EXPECT_FALSE(findNodeByName(nested, "absent"));
}

TEST(XmlHelpers, MissingChildrenAndAttributesReadAsEmpty) {
    auto document =
        test::parsedXml("<user name='x'><email>a@b.c</email><addr>Main <n>5</n></addr></user>");
    pugi::xml_node user = document.document_element();
    EXPECT_EQ(childText(user, "email"), "a@b.c");
    EXPECT_EQ(childText(user, "missing"), "");
    EXPECT_EQ(childText(user, "addr"), "Main 5");
    EXPECT_EQ(getAttribute(user, "name"), "x");
    EXPECT_EQ(getAttribute(user, "missing"), "");
    // A broken XPath behaves as if nothing matched.
    EXPECT_EQ(childText(user, "]]bad[["), "");
    EXPECT_FALSE(selectSingleNode(user, "///"));
    EXPECT_TRUE(selectNodes(user, "((").empty());
}

TEST(XmlHelpers, SelectionsFollowDocumentOrderIncludingUnions) {
    auto document = test::parsedXml(
        "<config><printers><p><paper n='1'/><paper-format n='2'/><paper "
        "n='3'/></p></printers></config>");
    auto papers =
        selectNodes(document.document_element().child("printers").child("p"), "paper-format|paper");
    ASSERT_EQ(papers.size(), 3u);
    EXPECT_EQ(getAttribute(papers[0], "n"), "1");
    EXPECT_EQ(getAttribute(papers[1], "n"), "2");
    EXPECT_EQ(getAttribute(papers[2], "n"), "3");
    EXPECT_EQ(selectSingleNode(document, "/config/printers").name(), std::string("printers"));
    EXPECT_EQ(selectNodes(document.document_element(), "/config/printers/p").size(), 1u);
}

TEST(XmlHelpers, AttributesAndElementsWriteIntegersPlainly) {
    pugi::xml_document document;
    pugi::xml_node root = document.append_child("job");
    setAttribute(root, "n", -5);
    setAttribute(root, "z", 0);
    setAttribute(root, "n", 7);  // replaces, does not duplicate
    appendElement(root, "count", -2147483647 - 1);
    appendElement(root, "title", "a < b & \"c\"");
    appendElement(root, "empty");
    EXPECT_EQ(getAttribute(root, "n"), "7");
    EXPECT_EQ(getAttribute(root, "z"), "0");
    EXPECT_EQ(std::distance(root.attributes_begin(), root.attributes_end()), 2);
    EXPECT_EQ(childText(root, "count"), "-2147483648");

    auto reread = test::parsedXml(xmlToString(document));
    EXPECT_EQ(childText(reread.document_element(), "title"), "a < b & \"c\"");
    EXPECT_TRUE(selectSingleNode(reread.document_element(), "empty"));
}

TEST(XmlHelpers, BooleansAndIntegersReadLikeTheServiceWritesThem) {
    for (const char* yes : {"true", "True", "yes", "Y", "1", "9", "10"}) {
        EXPECT_TRUE(boolFromText(yes)) << yes;
    }
    for (const char* no : {"", "false", "no", "0", "N", " true", "-1"}) {
        EXPECT_FALSE(boolFromText(no)) << no;
    }
    EXPECT_EQ(intFromText("42"), 42);
    EXPECT_EQ(intFromText("  -17xyz"), -17);
    EXPECT_EQ(intFromText(""), 0);
    EXPECT_EQ(intFromText("abc"), 0);
    EXPECT_EQ(intFromText("99999999999999999999"), INT_MAX);
    EXPECT_EQ(intFromText("-99999999999999999999"), INT_MIN);
}

TEST(XmlHelpers, StrictIntegersAreTheWholeTextInRange) {
    const std::pair<const char*, std::optional<int>> cases[] = {
        {"42", 42},
        {"-17", -17},
        {"0", 0},
        {"007", 7},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"2147483648", {}},
        {"-2147483649", {}},
        {"99999999999", {}},
        {"12abc", {}},
        {"", {}},
        {" 12", {}},
        {"12 ", {}},
        {"+12", {}},
        {"-", {}},
        {"1e3", {}},
        {"0x10", {}},
        {"12\n", {}},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(strictIntFromText(text), expected) << text;
    // A digit after an embedded NUL is still part of the text.
    EXPECT_EQ(strictIntFromText(std::string_view("1\0"
                                                 "2",
                                                 3)),
              std::nullopt);
}

// Four bytes of "<a/>" make a node many times that size; the count comes before the parse.
TEST(XmlHelpers, DocumentsThatCouldHoldTooManyNodesAreRefusedUnparsed) {
    // The bound is never below what the parser really builds.
    for (const char* text : {"<a/>", "<a b='1' c='2'>x</a>", "<a>x<b/>y<c d='=' e=''/>z</a>",
                             "<a><![CDATA[<<x>>]]>t<!-- c --><?p i?></a>", "<a>&lt;&amp;</a>"}) {
        pugi::xml_document parsed;
        ASSERT_TRUE(parsed.load_string(text)) << text;
        size_t built = 0;
        for (pugi::xml_node node = parsed.first_child(); node;) {
            built += 1 + static_cast<size_t>(
                             std::distance(node.attributes_begin(), node.attributes_end()));
            if (node.first_child()) {
                node = node.first_child();
                continue;
            }
            while (node && !node.next_sibling())
                node = node.parent();
            if (node)
                node = node.next_sibling();
        }
        EXPECT_GE(xmlNodeCountBound(text), built) << text;
    }
    std::string many = "<r>";
    for (int i = 0; i < 1000; ++i)
        many += "<a/>";
    many += "</r>";
    pugi::xml_document document;
    std::string error;
    EXPECT_TRUE(parseXml(document, many, error, 3000)) << error;
    EXPECT_EQ(std::distance(document.document_element().begin(), document.document_element().end()),
              1000);
    EXPECT_FALSE(parseXml(document, many, error, 2000));
    EXPECT_EQ(error, "XML holds too many elements");
    EXPECT_FALSE(document.document_element());
}

TEST(XmlHelpers, MalformedTextIsRejectedWithAReason) {
    pugi::xml_document document;
    std::string error;
    EXPECT_FALSE(parseXml(document, "<a><b></a>", error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(parseXml(document, "", error));
}

// Character 0 would be stored as a NUL that silently ends the value: "12&#0;abc" read as "12".
TEST(XmlHelpers, ReferencesToCharacterZeroAreRefusedNotCutAt) {
    for (const char* text :
         {"<a id=\"12&#0;abc\"/>", "<a>3&#00;4</a>", "<a b=\"&#x0;\"/>", "<a>&#x000;</a>"}) {
        pugi::xml_document document;
        std::string error;
        EXPECT_FALSE(parseXml(document, text, error)) << text;
        EXPECT_EQ(error, "XML refers to character 0") << text;
    }
    // Other references, and text that merely looks similar, keep their meaning.
    pugi::xml_document document;
    std::string error;
    ASSERT_TRUE(parseXml(document, "<a b=\"1&#10;0\">&#48;&#x30;&amp;#0;</a>", error)) << error;
    EXPECT_EQ(getAttribute(document.document_element(), "b"), "1\n0");
    EXPECT_EQ(childText(document.document_element(), "."), "00&#0;");
}

class ScratchFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() /
                ("velmora-xml-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
    }
    void TearDown() override { std::filesystem::remove_all(root_); }
    std::filesystem::path root_;
};

using AtomicWrite = ScratchFolder;

TEST_F(AtomicWrite, ReplacesTheFileWithTheRequestedModeAndLeavesNoTemporary) {
    auto path = root_ / "setup.xml";
    std::ofstream(path) << "old";
    pugi::xml_document document;
    appendElement(document.append_child("config"), "token", "secret");
    std::string error;
    ASSERT_TRUE(writeXmlFileAtomically(document, path, error, 0600)) << error;
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("<token>secret</token>"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root_), {}), 1);

    EXPECT_FALSE(writeFileAtomically(root_ / "missing" / "x", "bytes", error));
    EXPECT_FALSE(error.empty());
}

using RemoveFlatDirectory = ScratchFolder;

TEST_F(RemoveFlatDirectory, RemovesOnlyFoldersWithoutSubfolders) {
    EXPECT_TRUE(removeFlatDirectory(root_ / "does-not-exist"));

    auto flat = root_ / "flat";
    std::filesystem::create_directory(flat);
    std::ofstream(flat / "1.bmp") << "x";
    std::ofstream(flat / "2.enc") << "y";
    EXPECT_TRUE(removeFlatDirectory(flat));
    EXPECT_FALSE(std::filesystem::exists(flat));

    auto nested = root_ / "nested";
    std::filesystem::create_directories(nested / "sub");
    std::ofstream(nested / "keep") << "z";
    EXPECT_FALSE(removeFlatDirectory(nested));
    EXPECT_TRUE(std::filesystem::exists(nested / "keep"));
    EXPECT_TRUE(std::filesystem::exists(nested / "sub"));
}

}  // namespace
}  // namespace velmora
