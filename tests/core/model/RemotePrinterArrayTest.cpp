#include "core/model/RemotePrinterArray.h"
#include "core/xml/XmlHelpers.h"

#include <gtest/gtest.h>

#include "tests/support/XmlTesting.h"

namespace velmora {
namespace {

std::vector<std::string> ids(const RemotePrinterArray& printers) {
    std::vector<std::string> result;
    for (const auto& printer : printers)
        result.push_back(printer->publicId());
    return result;
}

std::vector<std::string> titles(const RemotePrinterArray& printers) {
    std::vector<std::string> result;
    for (const auto& printer : printers)
        result.push_back(printer->shareTitle());
    return result;
}

RemotePrinterArray favourites() {
    auto document = test::parsedXml(
        "<favorites default='b'>"
        "<printer><public-id>a</public-id><title>A</title></printer>"
        "<ignored><public-id>x</public-id></ignored>"
        "<printer><public-id>b</public-id><title>B</title></printer>"
        "<printer><public-id>c</public-id><title>C</title></printer>"
        "</favorites>");
    RemotePrinterArray printers;
    printers.parse(document.document_element(), false);
    return printers;
}

TEST(RemotePrinterArray, MergeUpdatesKnownPrintersInPlaceAndAppendsNewOnes) {
    RemotePrinterArray printers = favourites();
    EXPECT_EQ(ids(printers), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(printers.defaultPrinterId(), "b");
    std::shared_ptr<RemotePrinter> held = printers.getPrinter("b");

    auto update = test::parsedXml(
        "<response>"
        "<printer online='true'><public-id>d</public-id><title>D</title></printer>"
        "<printer online='true'><public-id>b</public-id><title>B2</title></printer>"
        "</response>");
    printers.parse(update.document_element(), true);
    EXPECT_EQ(ids(printers), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(titles(printers), (std::vector<std::string>{"A", "B2", "C", "D"}));
    // The printer a window holds is the one that was updated.
    EXPECT_EQ(printers.getPrinter("b"), held);
    EXPECT_TRUE(held->online());
    // A container without "default" clears the default printer in either mode.
    EXPECT_EQ(printers.defaultPrinterId(), "");

    // A printer listed twice in one reply is merged into one entry.
    auto twice = test::parsedXml(
        "<response default='a'>"
        "<printer><public-id>e</public-id><title>E1</title></printer>"
        "<printer><public-id>e</public-id><title>E2</title></printer>"
        "</response>");
    printers.parse(twice.document_element(), true);
    EXPECT_EQ(ids(printers), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(printers.getPrinter("e")->shareTitle(), "E2");
    EXPECT_EQ(printers.defaultPrinterId(), "a");
}

TEST(RemotePrinterArray, FullMergeStartsAfresh) {
    RemotePrinterArray printers = favourites();
    std::shared_ptr<RemotePrinter> held = printers.getPrinter("a");

    auto empty = test::parsedXml("<favorites/>");
    printers.parse(empty.document_element(), false);
    EXPECT_EQ(printers.count(), 0u);
    EXPECT_EQ(printers.defaultPrinterId(), "");
    // Whoever still holds a printer keeps a valid object.
    EXPECT_EQ(held->shareTitle(), "A");

    printers = favourites();
    auto again =
        test::parsedXml("<favorites><printer><public-id>c</public-id></printer></favorites>");
    printers.parse(again.document_element(), false);
    EXPECT_EQ(ids(printers), (std::vector<std::string>{"c"}));
    // A fresh printer, not the old "c" with its title.
    EXPECT_EQ(printers.objectAtIndex(0)->shareTitle(), "");
}

TEST(RemotePrinterArray, NoContainerOnlyEmptiesInFullMode) {
    RemotePrinterArray printers = favourites();
    printers.parse(pugi::xml_node(), true);
    EXPECT_EQ(printers.count(), 3u);
    EXPECT_EQ(printers.defaultPrinterId(), "b");
    printers.parse(pugi::xml_node(), false);
    EXPECT_EQ(printers.count(), 0u);
    EXPECT_EQ(printers.defaultPrinterId(), "b");
}

TEST(RemotePrinterArray, RemovesTheNamedPrinters) {
    RemotePrinterArray printers = favourites();
    auto dislike = test::parsedXml(
        "<dislike>"
        "<printer><public-id>c</public-id></printer>"
        "<printer><public-id>unknown</public-id></printer>"
        "<printer><public-id>a</public-id></printer>"
        "</dislike>");
    printers.remove(dislike.document_element());
    EXPECT_EQ(ids(printers), (std::vector<std::string>{"b"}));
    printers.remove(pugi::xml_node());
    EXPECT_EQ(printers.count(), 1u);

    printers = favourites();
    printers.removeObjectAtIndex(1);
    printers.removeObjectAtIndex(7);
    EXPECT_EQ(ids(printers), (std::vector<std::string>{"a", "c"}));
    printers.removeObject(printers.getPrinter("c").get());
    EXPECT_EQ(ids(printers), (std::vector<std::string>{"a"}));
    EXPECT_EQ(printers.getPrinter("c"), nullptr);
    EXPECT_THROW(printers.objectAtIndex(1), std::out_of_range);
}

}  // namespace
}  // namespace velmora
