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

// Look-ups go through an index; every way of taking a printer out must take it out of the
// index too, or a removed printer would come back under its id.
TEST(RemotePrinterArray, TheIndexFollowsEveryChangeOfTheList) {
    RemotePrinterArray printers = favourites();
    const std::shared_ptr<RemotePrinter> b = printers.getPrinter("b");
    printers.removeObjectAtIndex(1);
    printers.removeObject(printers.getPrinter("c").get());
    auto dislike =
        test::parsedXml("<dislike><printer><public-id>a</public-id></printer></dislike>");
    printers.remove(dislike.document_element());
    for (const char* id : {"a", "b", "c"})
        EXPECT_EQ(printers.getPrinter(id), nullptr) << id;

    auto update = test::parsedXml(
        "<r><printer><public-id>b</public-id><title>new B</title></printer>"
        "<printer><public-id>a</public-id></printer></r>");
    printers.parse(update.document_element(), true);
    EXPECT_EQ(ids(printers), (std::vector<std::string>{"b", "a"}));
    EXPECT_NE(printers.getPrinter("b"), b);  // a new printer, not the removed one
    EXPECT_EQ(b->shareTitle(), "B");
    EXPECT_EQ(printers.getPrinter("b")->shareTitle(), "new B");

    printers.removeAllObjects();
    EXPECT_EQ(printers.getPrinter("a"), nullptr);
    printers.parse(update.document_element(), true);
    EXPECT_EQ(ids(printers), (std::vector<std::string>{"b", "a"}));

    // Removing many printers at once keeps the others and their order.
    std::string listed = "<r>";
    std::string gone = "<r>";
    for (int i = 0; i < 2000; ++i) {
        const std::string printer =
            "<printer><public-id>" + std::to_string(i) + "</public-id></printer>";
        listed += printer;
        if (i % 2 == 1)
            gone += printer;
    }
    auto many = test::parsedXml(listed + "</r>");
    auto odd = test::parsedXml(gone + "</r>");
    printers.parse(many.document_element(), false);
    printers.remove(odd.document_element());
    ASSERT_EQ(printers.count(), 1000u);
    for (size_t i = 0; i < printers.count(); ++i) {
        const std::string id = std::to_string(2 * i);
        ASSERT_EQ(printers.objectAtIndex(i)->publicId(), id);
        ASSERT_EQ(printers.getPrinter(id), printers.objectAtIndex(i));
        ASSERT_EQ(printers.getPrinter(std::to_string(2 * i + 1)), nullptr);
    }
}

TEST(RemotePrinterArray, ListsLongerThanTheBoundAreCutButKnownPrintersStillUpdate) {
    const size_t bound = RemotePrinterArray::kMaxPrinters;
    std::string listed = "<favorites>";
    for (size_t i = 0; i < bound + 10; ++i)
        listed += "<printer><public-id>p" + std::to_string(i) + "</public-id></printer>";
    auto full = test::parsedXml(listed + "</favorites>");
    RemotePrinterArray printers;
    EXPECT_FALSE(printers.parse(full.document_element(), false));
    EXPECT_EQ(printers.count(), bound);
    EXPECT_EQ(printers.getPrinter("p" + std::to_string(bound)), nullptr);

    auto update = test::parsedXml(
        "<r><printer><public-id>p3</public-id><title>Three</title></printer>"
        "<printer><public-id>late</public-id></printer></r>");
    EXPECT_FALSE(printers.parse(update.document_element(), true));
    EXPECT_EQ(printers.getPrinter("p3")->shareTitle(), "Three");
    EXPECT_EQ(printers.getPrinter("late"), nullptr);

    printers.removeObjectAtIndex(0);
    EXPECT_TRUE(printers.parse(update.document_element(), true));
    EXPECT_EQ(printers.objectAtIndex(bound - 1)->publicId(), "late");
}

}  // namespace
}  // namespace velmora
