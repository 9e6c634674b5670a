#include "core/account/PermissionArray.h"

#include <gtest/gtest.h>

#include "tests/support/XmlTesting.h"

#include <string>

#include "core/xml/XmlHelpers.h"

namespace velmora {
namespace {

PermissionArray parsedRules(std::string_view reply) {
    auto document = test::parsedXml(reply);
    PermissionArray permissions;
    permissions.parse(findNodeByName(document, "response"));
    return permissions;
}

Person personWithId(int id) {
    Person person;
    person.setServerId(id);
    return person;
}

TEST(PermissionArray, ReplyWithoutRulesGivesOneAskRuleForAnyone) {
    PermissionArray permissions =
        parsedRules("<response success='true'><token>t</token><user id='1'/></response>");
    ASSERT_EQ(permissions.count(), 1u);
    EXPECT_FALSE(permissions.objectAtIndex(0).person());
    EXPECT_EQ(permissions.objectAtIndex(0).value(), Permission::kAsk);
    EXPECT_EQ(permissions.getPermissionFor(5), Permission::kAsk);
}

TEST(PermissionArray, ReadsRulesAsTheServiceSendsThem) {
    PermissionArray permissions = parsedRules(R"(<Envelope><Body><response success="true">
        <rule permission="Block"><client id="5"><login>eve</login><nick>Eve</nick></client></rule>
        <rule permission="Allow"/>
        <rule permission="allow"><client id="7"/></rule>
        <rule permission="Allow"><client id="5"/></rule>
        <rule><client id="8"/></rule>
        <other><rule permission="Block"><client id="9"/></rule></other>
      </response></Body></Envelope>)");
    ASSERT_EQ(permissions.count(), 5u);
    EXPECT_FALSE(permissions.objectAtIndex(0).person());
    EXPECT_EQ(permissions.objectAtIndex(0).value(), Permission::kAllow);
    ASSERT_TRUE(permissions.objectAtIndex(1).person());
    EXPECT_EQ(permissions.objectAtIndex(1).person()->login(), "eve");
    EXPECT_EQ(permissions.objectAtIndex(1).person()->nick(), "Eve");

    EXPECT_EQ(permissions.getPermissionFor(5), Permission::kBlock);   // first of two rules
    EXPECT_EQ(permissions.getPermissionFor(7), Permission::kAsk);     // codes are case-sensitive
    EXPECT_EQ(permissions.getPermissionFor(8), Permission::kAsk);     // no code at all
    EXPECT_EQ(permissions.getPermissionFor(9), Permission::kAllow);   // only direct "rule" children
    EXPECT_EQ(permissions.getPermissionFor(-1), Permission::kAllow);  // direct jobs: anyone
}

TEST(PermissionArray, LastRuleForAnyoneWinsAndParseStartsAfresh) {
    PermissionArray permissions = parsedRules(
        "<response><rule permission='Block'/><rule permission='Allow'/>"
        "<rule permission='Block'/><rule permission='Ask'/><rule permission='Allow'/></response>");
    ASSERT_EQ(permissions.count(), 1u);
    EXPECT_EQ(permissions.getDefaultPermission(), Permission::kAllow);

    permissions.addObject(Permission(personWithId(3), Permission::kBlock));
    auto document = test::parsedXml("<response><rule permission='Block'/></response>");
    permissions.parse(document.document_element());
    ASSERT_EQ(permissions.count(), 1u);
    EXPECT_EQ(permissions.getPermissionFor(3), Permission::kBlock);  // now the anyone rule
}

TEST(PermissionArray, EditingTheListKeepsLookUpsConsistent) {
    PermissionArray permissions;
    EXPECT_EQ(permissions.getDefaultPermission(), Permission::kAsk);
    EXPECT_EQ(permissions.getPermissionFor(4), Permission::kAsk);
    permissions.addObject(Permission(personWithId(4), Permission::kBlock));
    permissions.addObject(Permission(std::nullopt, Permission::kAllow));
    EXPECT_EQ(permissions.getDefaultPermission(), Permission::kAllow);
    EXPECT_EQ(permissions.getPermissionFor(4), Permission::kBlock);
    EXPECT_EQ(permissions.getPermissionFor(0), Permission::kAllow);

    EXPECT_FALSE(permissions.removeObjectAtIndex(2));
    EXPECT_EQ(permissions.count(), 2u);
    ASSERT_TRUE(permissions.removeObjectAtIndex(0));
    EXPECT_EQ(permissions.getPermissionFor(4), Permission::kAllow);
    permissions.objectAtIndex(0).setValue(Permission::kBlock);
    EXPECT_EQ(permissions.getDefaultPermission(), Permission::kBlock);
    permissions.removeAllObjects();
    EXPECT_EQ(permissions.count(), 0u);
    EXPECT_EQ(permissions.getPermissionFor(4), Permission::kAsk);
}

TEST(Permission, CodesForValues) {
    EXPECT_EQ(Permission::codeForValue(0), "Ask");
    EXPECT_EQ(Permission::codeForValue(1), "Allow");
    EXPECT_EQ(Permission::codeForValue(2), "Block");
    EXPECT_EQ(Permission::codeForValue(-1), "Ask");
    EXPECT_EQ(Permission::codeForValue(3), "Ask");
    for (int value : {0, 1, 2})
        EXPECT_EQ(Permission::valueForCode(Permission::codeForValue(value)), value);
    EXPECT_EQ(Permission::valueForCode("BLOCK"), Permission::kAsk);
    EXPECT_EQ(Permission::valueForCode(""), Permission::kAsk);
}

}  // namespace
}  // namespace velmora
