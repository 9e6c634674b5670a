#include <gtest/gtest.h>

#include <string>

#include "core/xml/XmlHelpers.h"

namespace velmora {
namespace {

// Nesting far beyond what a call stack holds must read like any other text.
TEST(XmlHelpersDeepTree, TextAndSearchWorkOnDeeplyNestedElements) {
    constexpr int kDepth = 300000;
    std::string text = "<user><mail>";
    for (int i = 0; i < kDepth; ++i)
        text += "<a>";
    text += "x<name/>";
    for (int i = 0; i < kDepth; ++i)
        text += "</a>";
    text += "y</mail><nick>n</nick></user>";
    pugi::xml_document document;
    std::string error;
    ASSERT_TRUE(parseXml(document, text, error)) << error;
    pugi::xml_node user = document.document_element();
    EXPECT_EQ(childText(user, "mail"), "xy");
    EXPECT_EQ(childText(user, "nick"), "n");
    EXPECT_STREQ(findNodeByName(document, "name").name(), "name");
    EXPECT_FALSE(findNodeByName(document, "absent"));
    // The search stays inside the subtree it starts from.
    EXPECT_FALSE(findNodeOrChild("nick", user.child("mail")));
}

}  // namespace
}  // namespace velmora
