#include <gtest/gtest.h>

#include "core/account/Person.h"
#include "core/config/Config.h"
#include "core/net/InetProvider.h"
#include "core/net/SoapData.h"
#include "core/xml/XmlHelpers.h"
#include "tests/support/ReferenceService.h"

namespace velmora {
namespace {

// The transport against the reference service: an independent reading of the same wire
// formats, so a mistake on either side shows up as a refused or malformed request.
class InetProviderServiceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        service_ = new test::ReferenceService(R"({
            "accounts": [
                {"login": "alice", "password": "alice-pw", "token": "tok-alice", "id": 7,
                 "mail": "alice@example.test", "nick": "Al"}
            ]})");
    }
    static void TearDownTestSuite() {
        delete service_;
        service_ = nullptr;
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

    void expectNothingMalformed() {
        const std::string state = service_->get("/_ref/state?requests=0");
        EXPECT_NE(state.find("\"malformed_count\": 0"), std::string::npos) << state;
    }

    static test::ReferenceService* service_;
    Config config_;
    Person user_;
    InetProvider provider_;
};

test::ReferenceService* InetProviderServiceTest::service_ = nullptr;

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
    auto marker =
        provider_.downloadData(service_->baseUrl() + "/fastCheck3.aspx?d=", &headers, error);
    ASSERT_TRUE(marker) << error;
    // Nothing changed for this account: the service answers with its bare change marker.
    EXPECT_EQ(marker->size(), 12u) << *marker;
    EXPECT_EQ(marker->find_first_not_of("0123456789"), std::string::npos) << *marker;

    config_.setToken("no-such-session");
    headers = provider_.dictionaryWithTDTokenHeader();
    auto relogin =
        provider_.downloadData(service_->baseUrl() + "/fastCheck3.aspx?d=", &headers, error);
    ASSERT_TRUE(relogin) << error;
    EXPECT_NE(relogin->find("relogin"), std::string::npos) << *relogin;

    EXPECT_FALSE(provider_.downloadData(service_->baseUrl() + "/getPage.aspx?job=1&page=1",
                                        &headers, error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace velmora
