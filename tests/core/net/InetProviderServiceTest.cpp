#include <gtest/gtest.h>

#include <memory>

#include "core/account/Person.h"
#include "core/config/Config.h"
#include "core/net/InetProvider.h"
#include "core/net/SoapData.h"
#include "core/xml/XmlHelpers.h"
#include "tests/support/RefServiceProcess.h"
#include "tests/support/ScratchDirectory.h"

namespace velmora {
namespace {

// The transport against the reference service: an independent reading of the same wire
// formats, so a mistake on either side shows up as a refused or malformed request.
class InetProviderServiceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch_ = std::make_unique<test::ScratchDirectory>("velmora-inet");
        test::ScratchDirectory::writeFile(*scratch_ / "seed.json", R"({
            "accounts": [
                {"login": "alice", "password": "alice-pw", "token": "tok-alice", "id": 7,
                 "mail": "alice@example.test", "nick": "Al"}
            ]})");
        service_ = std::make_unique<test::RefServiceProcess>(
            *scratch_ / "seed.json", std::vector<std::string>{}, *scratch_ / "service.log");
    }
    static void TearDownTestSuite() {
        service_.reset();
        scratch_.reset();
    }

    InetProviderServiceTest() : config_("/nonexistent"), provider_(config_, user_) {
        config_.setService(service_->serviceUrl());
    }

    bool login(const std::string& login, const std::string& password, std::string& error) {
        SoapData data;
        setAttribute(data.element(), "echo", "minimal");
        appendElement(data.element(), "login", login);
        appendElement(data.element(), "password", password);
        SoapResponse response;
        return provider_.soapRequest("Login", data.text(), config_.service(), response, 3, error);
    }

    void expectNothingMalformed() { EXPECT_EQ(service_->state().get<int>("malformed_count"), 0); }

    static inline std::unique_ptr<test::ScratchDirectory> scratch_;
    static inline std::unique_ptr<test::RefServiceProcess> service_;
    Config config_;
    Person user_;
    InetProvider provider_;
};

TEST_F(InetProviderServiceTest, PasswordLoginStoresTheSessionAndTheUser) {
    std::string error;
    ASSERT_TRUE(login("alice", "alice-pw", error)) << error;
    EXPECT_FALSE(config_.token().empty());
    EXPECT_EQ(user_.serverId(), 7);
    EXPECT_EQ(user_.mail(), "alice@example.test");
    EXPECT_EQ(user_.nick(), "Al");

    const std::string token = config_.token();
    EXPECT_FALSE(login("alice", "wrong", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(config_.token(), token);
    expectNothingMalformed();
}

TEST_F(InetProviderServiceTest, OperationsWithoutChildrenAndUnknownJobs) {
    std::string error;
    SoapData empty;
    SoapResponse response;
    ASSERT_TRUE(provider_.soapRequest("GetServerConfig", empty.text(), config_.service(), response,
                                      0, error))
        << error;

    config_.setToken("tok-alice");
    EXPECT_FALSE(provider_.changeJob(999999, 3, error));
    EXPECT_FALSE(error.empty());
    std::string key;
    EXPECT_FALSE(provider_.getKey(key, 999999, "pw", false, error));
    EXPECT_FALSE(error.empty());
    expectNothingMalformed();
}

TEST_F(InetProviderServiceTest, DownloadsCarryTheSessionToken) {
    config_.setToken("tok-alice");
    std::string error;
    auto headers = provider_.dictionaryWithTDTokenHeader();
    auto marker = provider_.downloadData(service_->base() + "/fastCheck3.aspx?d=", &headers, error);
    ASSERT_TRUE(marker) << error;
    // Nothing changed for this account: the service answers with its bare change marker.
    EXPECT_EQ(marker->size(), 12u) << *marker;
    EXPECT_EQ(marker->find_first_not_of("0123456789"), std::string::npos) << *marker;

    config_.setToken("no-such-session");
    headers = provider_.dictionaryWithTDTokenHeader();
    auto relogin =
        provider_.downloadData(service_->base() + "/fastCheck3.aspx?d=", &headers, error);
    ASSERT_TRUE(relogin) << error;
    EXPECT_NE(relogin->find("relogin"), std::string::npos) << *relogin;

    EXPECT_FALSE(
        provider_.downloadData(service_->base() + "/getPage.aspx?job=1&page=1", &headers, error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace velmora
