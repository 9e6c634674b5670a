#include <gtest/gtest.h>

#include "console/remote/QueueHelperRequest.h"
#include "console/remote/QueueNames.h"

namespace velmora::console {
namespace {

TEST(QueueNamesTest, OnlyPlainIdsNameAQueue) {
    const std::string longest(QueueNames::kMaxPublicIdLength, 'a');
    for (const std::string& id :
         {std::string("7d1c2a9e-5b3f-4e61-9a0c-2f4b8d6e1a01"), std::string("ABC_def-9"), longest}) {
        EXPECT_EQ(QueueNames::queueNameFor(id), "Velmora_" + id);
    }
    for (const std::string& id :
         {std::string(""), std::string("$(touch x)"), std::string("../etc"), std::string("a b"),
          std::string("a\nb"), std::string("a/b"), std::string("a.b"), std::string("\"q\""),
          std::string("caf\xC3\xA9"), longest + "a", std::string("a\0b", 3)}) {
        EXPECT_EQ(QueueNames::queueNameFor(id), std::nullopt) << id;
    }
}

// An administrator's queue that merely looks like ours, or contains our prefix, is never ours.
TEST(QueueNamesTest, AQueueIsOursOnlyByNameAndDevice) {
    struct Case {
        std::string name;
        std::string uri;
        bool ours;
    };
    for (const Case& c : std::vector<Case>{
             {"Velmora_abc", "velmora:/", true},
             {"velmora_ABC", "velmora:/", true},
             {"VELMORA_abc", "velmora:/", true},
             {"Velmora_abc", "ipp://printer.local/ipp/print", false},
             {"Velmora_abc", "velmora:/other", false},
             {"Office_Velmora_abc", "velmora:/", false},
             {"MyVelmora_abc", "velmora:/", false},
             {"Velmora_", "velmora:/", false},
             {"Velmora", "velmora:/", false},
             {"Velmora_a.b", "velmora:/", false},
         }) {
        EXPECT_EQ(QueueNames::isOurs(c.name, c.uri), c.ours) << c.name << " " << c.uri;
    }
    EXPECT_TRUE(QueueNames::sameQueueName("Velmora_AbC", "velmora_aBc"));
    EXPECT_FALSE(QueueNames::sameQueueName("Velmora_abc", "Velmora_abcd"));
}

TEST(QueueNamesTest, DescriptionsLoseControlCharactersAndFitTheScheduler) {
    EXPECT_EQ(QueueNames::descriptionFor("Front Desk"), "Front Desk (Velmora)");
    EXPECT_EQ(QueueNames::descriptionFor("a\nb\rc\td\x7F"
                                         "e\xC2\x85"
                                         "f\xE2\x80\xA8g"),
              "abcdefg (Velmora)");
    EXPECT_EQ(QueueNames::descriptionFor("bad \xFF\xC3 utf8"), "bad  utf8 (Velmora)");
    EXPECT_EQ(QueueNames::descriptionFor("$(touch x) \"q\" 'q'"), "$(touch x) \"q\" 'q' (Velmora)");
    // 2-byte characters: the cut never splits one.
    std::string accents;
    for (int i = 0; i < 100; ++i)
        accents += "\xC3\xA9";
    const std::string cut = QueueNames::descriptionFor(accents);
    EXPECT_LE(cut.size(), QueueNames::kMaxDescriptionBytes);
    EXPECT_EQ(cut, std::string(accents.substr(0, 116)) + " (Velmora)");
}

// The root helper's whole input is its argument vector, from a user who may be hostile.
TEST(QueueHelperRequestTest, AcceptsOnlyWellFormedRequestsForOurQueues) {
    using Args = std::vector<std::string>;
    const std::string queue = "Velmora_abc";
    for (const Args& refused : std::vector<Args>{
             {},
             {"delete", queue},
             {"remove"},
             {"remove", queue, "extra"},
             {"remove", "Office"},
             {"remove", "Velmora_../x"},
             {"remove", "-x"},
             {"add", queue, "plain", "Title"},
             {"add", queue, "plain", "Evil\n (Velmora)"},
             {"add", queue, "/etc/evil.ppd", "Title (Velmora)"},
             {"add", "Velmora_a b", "plain", "Title (Velmora)"},
             {"add", queue, "plain", std::string(200, 'a') + " (Velmora)"},
             {"ppd", queue, "Duplex"},
             {"rename", queue, ""},
         }) {
        std::string error;
        EXPECT_EQ(QueueHelperRequest::parse(refused, error), std::nullopt)
            << ::testing::PrintToString(refused);
        EXPECT_NE(error, "");
    }
    for (const QueueOperation& operation : {
             QueueOperation{QueueOperation::Kind::Add, queue, "$(touch x) \"Office\" (Velmora)",
                            true},
             QueueOperation{QueueOperation::Kind::Rename, queue, "-D (Velmora)", false},
             QueueOperation{QueueOperation::Kind::SwitchPpd, queue, "", true},
             QueueOperation{QueueOperation::Kind::Remove, queue, "", false},
         }) {
        std::string error;
        const auto parsed =
            QueueHelperRequest::parse(QueueHelperRequest::arguments(operation), error);
        ASSERT_TRUE(parsed.has_value()) << error;
        EXPECT_EQ(parsed->kind, operation.kind);
        EXPECT_EQ(parsed->queue, operation.queue);
        EXPECT_EQ(parsed->description, operation.description);
        EXPECT_EQ(parsed->duplex, operation.duplex);
    }
}

}  // namespace
}  // namespace velmora::console
