#include "export/Lirrosahttp.h"
#include "ReferenceService.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>

#include <cstdio>
#include <string>
#include <vector>

#include "export/DeliveryRequest.h"


namespace {


ReferenceService* service = nullptr;

// Starts the service when the tests run (not when they are only listed).
class ServiceEnvironment : public ::testing::Environment {
public:
    void SetUp() override { service = new ReferenceService(); }
    void TearDown() override
    {
        delete service;
        service = nullptr;
    }
};

// A request body the reference service accepts: one note of a quarter at 480 ticks.
const std::string kBody = "aqt=rtc&song=tune&usedtnt=0&mailto=u@example.org&dvropt=1&dfs=211250001&mps="
                          "FAAAAOABAAAAAHgAeAAEBABkAAAAAAAACAAAAAAORkYAAAQFAQAAAAAA4AE8ZA==";

// What one request ended in.
struct Outcome {
    enum Kind { None, Ok, Error, Dropped } kind = None;
    std::vector<std::string> keys;
    std::vector<std::string> values;
    std::string message;
    qint64 afterMs = 0;
};

Outcome runRequest(TLirrosaHTTP& http, const std::string& address, int timeoutSeconds, int waitMs = 15000)
{
    Outcome outcome;
    QElapsedTimer clock;
    clock.start();
    http.OnOK = [&](TLirrosaHTTP*, const std::vector<std::string>& k, const std::vector<std::string>& v) {
        outcome = {Outcome::Ok, k, v, {}, clock.elapsed()};
    };
    http.OnError = [&](TLirrosaHTTP*, const std::string& m) { outcome = {Outcome::Error, {}, {}, m, clock.elapsed()}; };
    http.OnDropped = [&](TLirrosaHTTP*) { outcome = {Outcome::Dropped, {}, {}, {}, clock.elapsed()}; };
    EXPECT_TRUE(http.Request(address, kBody, timeoutSeconds, kBody.size()));
    while (outcome.kind == Outcome::None && clock.elapsed() < waitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return outcome;
}

class LirrosaHttp : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(service->port(), 0) << "the reference service did not start";
        http.setPollInterval(50);
    }
    TLirrosaHTTP http;
};

TEST_F(LirrosaHttp, AnswerPageGivesKeysAndValuesAtTheFirstPoll)
{
    http.setPollInterval(TLirrosaHTTP::kPollIntervalMs);
    const Outcome outcome = runRequest(http, service->address("dvropt=5"), kRequestTimeoutSeconds);
    ASSERT_EQ(outcome.kind, Outcome::Ok) << outcome.message;
    ASSERT_GE(outcome.keys.size(), 3u);
    EXPECT_EQ(outcome.keys[0], "rsp");
    EXPECT_EQ(outcome.values[0], "ok");
    EXPECT_EQ(outcome.keys[1], "rspmsg");
    EXPECT_EQ(outcome.values[1], "tune:d=4,o=5,b=125,s=n,l=0:c");
    EXPECT_EQ(outcome.keys.back(), "dvropt");
    EXPECT_EQ(outcome.values.back(), "5");
    EXPECT_GE(outcome.afterMs, TLirrosaHTTP::kPollIntervalMs * 9 / 10); // timers may fire 5 % early
}

TEST_F(LirrosaHttp, FailuresAreNetworkErrors)
{
    EXPECT_EQ(runRequest(http, service->address("answer=status500"), 5).message, kNetworkErrorText);
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const std::string refused = "http://127.0.0.1:" + std::to_string(closed.serverPort()) + "/rtc";
    closed.close();
    const Outcome outcome = runRequest(http, refused, 5);
    EXPECT_EQ(outcome.kind, Outcome::Error);
    EXPECT_EQ(outcome.message, kNetworkErrorText);
}

TEST_F(LirrosaHttp, NoAnswerWithinTheTimeOutAndNoPageWithinThePolls)
{
    Outcome outcome = runRequest(http, service->address("delay=6"), 1);
    EXPECT_EQ(outcome.message, kTimeoutText);
    EXPECT_LT(outcome.afterMs, 5000);
    // Headers at once, then nothing: 30 polls of 50 ms.
    outcome = runRequest(http, service->address("stall=10"), 1);
    EXPECT_EQ(outcome.message, kTimeoutText);
    EXPECT_GE(outcome.afterMs, 30 * 50 * 9 / 10);
    EXPECT_LT(outcome.afterMs, 9000);
}

TEST_F(LirrosaHttp, PagesOfAnotherFormAreDropped)
{
    EXPECT_EQ(runRequest(http, service->address("answer=garbage"), 5).kind, Outcome::Dropped);
    EXPECT_EQ(runRequest(http, service->address("answer=oversized"), 5).kind, Outcome::Dropped);
    // The service's own refusal is an answer.
    const Outcome refusal = runRequest(http, service->address("answer=err"), 5);
    ASSERT_EQ(refusal.kind, Outcome::Ok);
    EXPECT_EQ(refusal.values[0], "err");
}

TEST_F(LirrosaHttp, StopEndsTheRequestWithoutAnEvent)
{
    bool anything = false;
    http.OnOK = [&](TLirrosaHTTP*, const std::vector<std::string>&, const std::vector<std::string>&) {
        anything = true;
    };
    http.OnError = [&](TLirrosaHTTP*, const std::string&) { anything = true; };
    ASSERT_TRUE(http.Request(service->address("delay=0.3"), kBody, 1, kBody.size()));
    http.Stop();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(anything);
    EXPECT_FALSE(http.Request("ftp://example.org/", kBody, 1, kBody.size()));
    EXPECT_FALSE(http.Request(service->address(), kBody, 1, kBody.size() + 1));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ServiceEnvironment());
    return RUN_ALL_TESTS();
}
