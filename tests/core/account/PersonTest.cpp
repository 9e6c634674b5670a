#include "core/account/Person.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/XmlTesting.h"

#include <string>
#include <vector>

#include "core/xml/XmlHelpers.h"

namespace velmora {
namespace {

using ::testing::ElementsAre;

Person filledPerson() {
    Person person;
    for (int i = 0; i < Person::kPropertyCount; ++i)
        person.setProperty(i, std::string(Person::propertyElementName(i)) + " <&> \xc3\xa9");
    person.setServerId(42);
    person.setPremium(true);
    return person;
}

TEST(Person, WrittenElementReadsBackWithoutThePremiumFlag) {
    Person written = filledPerson();
    pugi::xml_document document;
    pugi::xml_node element = written.getXml(document, "printing-person", true);
    EXPECT_STREQ(element.name(), "printing-person");
    std::vector<std::string> names;
    for (pugi::xml_node child : element.children())
        names.emplace_back(child.name());
    EXPECT_THAT(names, ElementsAre("mail", "login", "nick", "name", "phone", "country", "city",
                                   "state", "address", "zip"));
    EXPECT_FALSE(element.attribute("premium"));

    auto reread = test::parsedXml(xmlToString(document));
    Person read;
    read.parse(reread.document_element());
    EXPECT_EQ(read.serverId(), 42);
    EXPECT_FALSE(read.premium());
    read.setPremium(true);
    EXPECT_EQ(read, written);
}

TEST(Person, IdAttributeOnlyWhenAsked) {
    Person person;
    pugi::xml_document document;
    pugi::xml_node without = person.getXml(document.append_child("data"), "user", false);
    EXPECT_FALSE(without.attribute("id"));
    // Empty properties are still written, as empty elements.
    EXPECT_TRUE(without.child("zip"));
    EXPECT_EQ(childText(without, "zip"), "");
    pugi::xml_node with = person.getXml(document.child("data"), "client", true);
    EXPECT_EQ(getAttribute(with, "id"), "0");
    person.setServerId(-1);
    EXPECT_EQ(getAttribute(person.getXml(document.child("data"), "owner", true), "id"), "-1");
}

TEST(Person, ReadsTheServiceUserElement) {
    auto reply = test::parsedXml(R"(<soap:Envelope xmlns:soap="x"><soap:Body><LoginResult>
        <response success="true"><token>T</token>
          <user id="1717" premium="true"><mail>a@b.example</mail><login>anna</login>
            <nick>Anna</nick><city>Graz</city><country>AT</country></user>
        </response></LoginResult></soap:Body></soap:Envelope>)");
    Person person;
    person.setProperty(Person::kPhone, "left over");
    person.parse(findNodeByName(reply, "user"));
    EXPECT_EQ(person.serverId(), 1717);
    EXPECT_TRUE(person.premium());
    EXPECT_EQ(person.mail(), "a@b.example");
    EXPECT_EQ(person.login(), "anna");
    EXPECT_EQ(person.nick(), "Anna");
    EXPECT_EQ(person.getProperty(Person::kCity), "Graz");
    EXPECT_EQ(person.getProperty(Person::kPhone), "");  // every property is replaced
    EXPECT_EQ(person.getProperty(Person::kName), "");

    struct Case {
        const char* xml;
        bool premium;
        int id;
    };
    // The id names the account in what is sent back, so it is read in full or not at all.
    for (const Case& c : {Case{"<user/>", false, 0}, Case{"<user premium='1' id='x'/>", true, 0},
                          Case{"<user premium='false' id=' 12'/>", false, 0},
                          Case{"<user premium='false' id='12abc'/>", false, 0},
                          Case{"<user premium='false' id='99999999999'/>", false, 0},
                          Case{"<user premium='false' id='12'/>", false, 12},
                          Case{"<user premium='Yes' id='-1'/>", true, -1}}) {
        auto document = test::parsedXml(c.xml);
        person.parse(document.document_element());
        EXPECT_EQ(person.premium(), c.premium) << c.xml;
        EXPECT_EQ(person.serverId(), c.id) << c.xml;
        EXPECT_EQ(person.mail(), "");
    }
}

TEST(Person, CompleteAddressJoinsTheFilledPartsWithBlanks) {
    Person person;
    EXPECT_EQ(person.getCompleteAddress(), "");
    person.setProperty(Person::kAddress, "Main St 5");
    EXPECT_EQ(person.getCompleteAddress(), "Main St 5");
    person.setProperty(Person::kCity, "Springfield");
    person.setProperty(Person::kState, "IL");
    person.setProperty(Person::kCountry, "USA");
    EXPECT_EQ(person.getCompleteAddress(), "Main St 5 Springfield IL USA");
    person.setProperty(Person::kZip, "62701");
    EXPECT_EQ(person.getCompleteAddress(), "Main St 5 Springfield 62701 IL USA");
    person.setProperty(Person::kAddress, "");
    EXPECT_EQ(person.getCompleteAddress(), " Springfield 62701 IL USA");
}

TEST(Person, IndexesOutOfRangeAreHarmless) {
    Person person = filledPerson();
    Person before = person;
    person.setProperty(-1, "x");
    person.setProperty(Person::kPropertyCount, "x");
    EXPECT_EQ(person, before);
    EXPECT_EQ(person.getProperty(Person::kPropertyCount), "");
    EXPECT_EQ(person.getProperty(-3), "");
    EXPECT_EQ(Person::propertyElementName(10), nullptr);
    EXPECT_STREQ(Person::propertyElementName(9), "zip");
}

}  // namespace
}  // namespace velmora
