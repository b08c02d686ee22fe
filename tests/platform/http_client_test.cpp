// THttpClient against a real server on loopback: what a request carries, which replies count as
// success, the transfer events, and every way a transfer can end badly.
#include "platform/http_client.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "platform/stream.h"
#include "tests/support/loopback_server.h"

namespace lumen {
namespace {

using test::TBodyMode;
using test::TLoopbackServer;
using test::TRefusingPort;
using test::TReply;

// The events of one client, in order, as "begin N", "work N", "end".
struct TWorkLog {
  std::vector<std::string> events;
  std::vector<TWorkMode> modes;
  std::vector<TComponent*> senders;

  void Attach(THttpClient& client) {
    client.OnWorkBegin = [this](TComponent* sender, TWorkMode mode, int32_t max) {
      Add(sender, mode, "begin " + std::to_string(max));
    };
    client.OnWork = [this](TComponent* sender, TWorkMode mode, int32_t count) {
      Add(sender, mode, "work " + std::to_string(count));
    };
    client.OnWorkEnd = [this](TComponent* sender, TWorkMode mode) { Add(sender, mode, "end"); };
  }
  void Add(TComponent* sender, TWorkMode mode, std::string event) {
    senders.push_back(sender);
    modes.push_back(mode);
    events.push_back(std::move(event));
  }
  size_t Count(const std::string& prefix) const {
    size_t n = 0;
    for (const auto& e : events) n += e.starts_with(prefix) ? 1 : 0;
    return n;
  }
};

std::string PatternBody(size_t size) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return body;
}

TEST(HttpClient, RequestCarriesTheWindowsHeadersOverHttp11) {
  TLoopbackServer server;
  server.ServeText("/a", "x");
  THttpClient client;
  ASSERT_EQ(client.Get(server.Url("/a")), "x");

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].version, "HTTP/1.1");
  EXPECT_EQ(requests[0].Header("Accept"), "text/html, */*");
  EXPECT_EQ(requests[0].HeaderCount("Accept"), 1u);
  EXPECT_EQ(requests[0].Header("User-Agent"), "Mozilla/3.0 (compatible; Lumen Courier Updater)");
  EXPECT_EQ(requests[0].HeaderCount("Content-Length"), 0u);
  EXPECT_EQ(requests[0].HeaderCount("Authorization"), 0u);
}

TEST(HttpClient, IgnoresProxySettingsOfTheEnvironment) {
  TLoopbackServer server;
  server.ServeText("/a", "direct");
  TRefusingPort deadProxy;
  // A proxy that would be used would refuse the connection.
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
    ::setenv(name, deadProxy.Url("").c_str(), 1);
  }
  ::unsetenv("no_proxy");
  ::unsetenv("NO_PROXY");
  THttpClient client;
  std::string body;
  EXPECT_NO_THROW(body = client.Get(server.Url("/a")));
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) ::unsetenv(name);
  EXPECT_EQ(body, "direct");
}

TEST(HttpClient, KeepsCookiesForLaterRequests) {
  TLoopbackServer server;
  server.Serve("/login", {.body = "ok", .headers = {{"Set-Cookie", "session=abc123; Path=/"}}});
  server.ServeText("/next", "ok");
  THttpClient client;
  client.Get(server.Url("/login"));
  client.Get(server.Url("/next"));
  client.Get(server.Url("/next"));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].HeaderCount("Cookie"), 0u);
  EXPECT_EQ(requests[1].Header("Cookie"), "session=abc123");
  EXPECT_EQ(requests[2].Header("Cookie"), "session=abc123");
}

struct BodyCase {
  const char* name;
  std::string body;
  TBodyMode mode;
};

void PrintTo(const BodyCase& c, std::ostream* os) {
  *os << c.name;
}

class HttpClientBody : public testing::TestWithParam<BodyCase> {};

TEST_P(HttpClientBody, ArrivesByteForByteAsTextAndIntoAStream) {
  const BodyCase& c = GetParam();
  TLoopbackServer server;
  server.Serve("/body", {.body = c.body, .mode = c.mode});
  THttpClient client;
  EXPECT_EQ(client.Get(server.Url("/body")), c.body);

  // Into a stream: written at its position, which ends after the last byte.
  TMemoryStream stream;
  stream.WriteBuffer("head", 4);
  client.Get(server.Url("/body"), stream);
  ASSERT_EQ(stream.Size(), static_cast<int64_t>(4 + c.body.size()));
  EXPECT_EQ(stream.Position(), stream.Size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Memory()), stream.Size()),
            "head" + c.body);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, HttpClientBody,
    testing::Values(BodyCase{"Empty", "", TBodyMode::Complete},
                    BodyCase{"DigestWithNewline", "0123456789abcdef0123456789abcdef\n",
                             TBodyMode::Complete},
                    BodyCase{"BinaryWithZerosAndHighBytes", std::string("\0\x80\xFF\r\n\0", 6),
                             TBodyMode::Complete},
                    BodyCase{"ManyPieces", PatternBody(700000), TBodyMode::Complete},
                    BodyCase{"ChunkedWithoutLength", PatternBody(50000), TBodyMode::Chunked}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpClient, EventsFollowTheBodyWithRunningTotals) {
  const std::string body = PatternBody(300000);
  struct Case {
    TBodyMode mode;
    std::string begin;
  } cases[] = {{TBodyMode::Complete, "begin 300000"}, {TBodyMode::Chunked, "begin 0"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.begin);
    TLoopbackServer server;
    server.Serve("/z", {.body = body, .mode = c.mode});
    THttpClient client;
    TWorkLog log;
    log.Attach(client);
    TMemoryStream stream;
    client.Get(server.Url("/z"), stream);

    ASSERT_GE(log.events.size(), 3u);
    EXPECT_EQ(log.events.front(), c.begin);
    EXPECT_EQ(log.events.back(), "end");
    EXPECT_EQ(log.Count("begin"), 1u);
    EXPECT_EQ(log.Count("end"), 1u);
    // Running totals, rising, the last one the whole body.
    int64_t previous = 0;
    for (size_t i = 1; i + 1 < log.events.size(); ++i) {
      ASSERT_TRUE(log.events[i].starts_with("work ")) << log.events[i];
      const int64_t total = std::stoll(log.events[i].substr(5));
      EXPECT_GT(total, previous);
      previous = total;
    }
    EXPECT_EQ(previous, 300000);
    for (size_t i = 0; i < log.events.size(); ++i) {
      EXPECT_EQ(log.modes[i], TWorkMode::wmRead);
      EXPECT_EQ(log.senders[i], &client);
    }
  }
}

TEST(HttpClient, EmptyReplyStillBeginsAndEnds) {
  TLoopbackServer server;
  server.ServeText("/empty", "");
  THttpClient client;
  TWorkLog log;
  log.Attach(client);
  EXPECT_EQ(client.Get(server.Url("/empty")), "");
  EXPECT_EQ(log.events, (std::vector<std::string>{"begin 0", "end"}));
}

TEST(HttpClient, HugeAnnouncedLengthIsClampedToTheHandlersRange) {
  TLoopbackServer server;
  server.Serve(
      "/huge",
      {.body = "0123456789", .mode = TBodyMode::Close, .announcedLength = size_t{5000000000}});
  THttpClient client;
  TWorkLog log;
  log.Attach(client);
  EXPECT_THROW(client.Get(server.Url("/huge")), EHttpError);
  ASSERT_FALSE(log.events.empty());
  EXPECT_EQ(log.events.front(), "begin " + std::to_string(std::numeric_limits<int32_t>::max()));
}

struct StatusCase {
  const char* name;
  TReply reply;
  int status;
};

void PrintTo(const StatusCase& c, std::ostream* os) {
  *os << c.name;
}

class HttpClientStatus : public testing::TestWithParam<StatusCase> {};

TEST_P(HttpClientStatus, NonSuccessRaisesWithTheStatusAndNoEvents) {
  const StatusCase& c = GetParam();
  TLoopbackServer server;
  server.Serve("/r", c.reply);
  server.ServeText("/elsewhere", "the redirect target");
  THttpClient client;
  TWorkLog log;
  log.Attach(client);
  for (int round = 0; round < 2; ++round) {  // text, then stream
    try {
      TMemoryStream stream;
      if (round == 0) {
        client.Get(server.Url("/r"));
      } else {
        client.Get(server.Url("/r"), stream);
      }
      ADD_FAILURE() << "no exception for status " << c.status;
    } catch (const EHttpError& e) {
      EXPECT_EQ(e.StatusCode(), c.status);
      EXPECT_NE(e.Message().find(std::to_string(c.status)), std::string::npos) << e.Message();
    }
    EXPECT_TRUE(log.events.empty());
  }
  EXPECT_EQ(server.RequestCount("/r"), 2u);
  EXPECT_EQ(server.RequestCount("/elsewhere"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, HttpClientStatus,
    testing::Values(
        StatusCase{"NotFound", {.status = 404, .body = "no such file"}, 404},
        StatusCase{"ServerError", {.status = 500, .body = "oops"}, 500},
        StatusCase{"Found", {.status = 302, .headers = {{"Location", "/elsewhere"}}}, 302},
        StatusCase{
            "MovedPermanently", {.status = 301, .headers = {{"Location", "/elsewhere"}}}, 301},
        StatusCase{"NotModified", {.status = 304}, 304}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpClient, OtherSuccessStatusesCount) {
  TLoopbackServer server;
  server.Serve("/partial", {.status = 203, .body = "info"});
  THttpClient client;
  EXPECT_EQ(client.Get(server.Url("/partial")), "info");
}

TEST(HttpClient, RefusedConnectionRaisesWithoutEvents) {
  TRefusingPort port;
  THttpClient client;
  TWorkLog log;
  log.Attach(client);
  try {
    client.Get(port.Url("/x"));
    FAIL() << "expected EHttpError";
  } catch (const EHttpError& e) {
    EXPECT_EQ(e.StatusCode(), 0);
    EXPECT_FALSE(e.Message().empty());
  }
  EXPECT_TRUE(log.events.empty());
}

TEST(HttpClient, RefusesSchemesOtherThanHttp) {
  THttpClient client;
  EXPECT_THROW(client.Get("file:///etc/hostname"), EHttpError);
}

// Bodies that break off: the end event still comes, last, and the failure reaches the caller.
// The stalled reply sends no body byte at all, because libcurl judges the speed over its last
// few seconds and would take that long to notice a stall after bytes did arrive.
TEST(HttpClient, BrokenTransferEndsItsEventsAndRaises) {
  struct Case {
    const char* name;
    TBodyMode mode;
    size_t sent;
    std::vector<std::string> events;
  } cases[] = {{"ClosedMidBody", TBodyMode::Close, 10240, {"begin 524288", "work 10240", "end"}},
               {"StalledBeforeTheBody", TBodyMode::Stall, 0, {"begin 524288", "end"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TLoopbackServer server;
    server.Serve("/cut", {.body = PatternBody(c.sent), .mode = c.mode, .announcedLength = 524288});
    THttpClient client;
    client.StallTimeout = std::chrono::seconds(1);
    TWorkLog log;
    log.Attach(client);
    TMemoryStream stream;
    try {
      client.Get(server.Url("/cut"), stream);
      ADD_FAILURE() << "expected EHttpError";
    } catch (const EHttpError& e) {
      EXPECT_EQ(e.StatusCode(), 0);
    }
    // The close may split the bytes into more pieces; what matters is the last total and the end.
    ASSERT_GE(log.events.size(), c.events.size());
    EXPECT_EQ(log.events.front(), c.events.front());
    EXPECT_EQ(std::vector<std::string>(log.events.end() - (c.events.size() - 1), log.events.end()),
              std::vector<std::string>(c.events.begin() + 1, c.events.end()));
    EXPECT_EQ(log.Count("end"), 1u);
    EXPECT_EQ(stream.Size(), static_cast<int64_t>(c.sent));
  }
}

TEST(HttpClient, AbortFromAnEventStopsTheTransferAndTheClientStaysUsable) {
  TLoopbackServer server;
  server.Serve("/big",
               {.body = PatternBody(4096), .mode = TBodyMode::Stall, .announcedLength = 1 << 20});
  server.ServeText("/small", "after");
  THttpClient client;
  TWorkLog log;
  log.Attach(client);
  client.OnWork = [&](TComponent*, TWorkMode, int32_t count) {
    log.events.push_back("work " + std::to_string(count));
    client.Abort();
  };
  TMemoryStream stream;
  EXPECT_THROW(client.Get(server.Url("/big"), stream), EHttpAborted);
  EXPECT_EQ(log.events.back(), "end");
  EXPECT_EQ(log.Count("end"), 1u);

  client.OnWork = nullptr;
  EXPECT_EQ(client.Get(server.Url("/small")), "after");
}

TEST(HttpClient, FailuresOfHandlersAndStreamsPassThroughUnchanged) {
  struct TRefusingStream : TMemoryStream {
    int64_t Write(const void*, int64_t) override { return 0; }
  };
  struct TMarker {};
  TLoopbackServer server;
  server.Serve("/f", {.body = PatternBody(20000)});
  THttpClient client;

  {
    SCOPED_TRACE("stream refuses bytes");
    TWorkLog log;
    log.Attach(client);
    TRefusingStream stream;
    EXPECT_THROW(client.Get(server.Url("/f"), stream), EWriteError);
    EXPECT_EQ(log.events.back(), "end");
  }
  {
    SCOPED_TRACE("progress handler throws");
    int ends = 0;
    client.OnWorkBegin = nullptr;
    client.OnWork = [](TComponent*, TWorkMode, int32_t) { throw TMarker{}; };
    client.OnWorkEnd = [&](TComponent*, TWorkMode) { ++ends; };
    EXPECT_THROW(client.Get(server.Url("/f")), TMarker);
    EXPECT_EQ(ends, 1);
    client.OnWorkEnd = nullptr;  // it counts into a variable of this block
  }
  {
    SCOPED_TRACE("a second request from inside a transfer");
    client.OnWork = [&](TComponent*, TWorkMode, int32_t) { client.Get(server.Url("/f")); };
    EXPECT_THROW(client.Get(server.Url("/f")), EHttpError);
    EXPECT_FALSE(client.Busy());
  }
  {
    SCOPED_TRACE("end handler throws after a good transfer");
    client.OnWork = nullptr;
    client.OnWorkEnd = [](TComponent*, TWorkMode) { throw TMarker{}; };
    EXPECT_THROW(client.Get(server.Url("/f")), TMarker);
  }
}

}  // namespace
}  // namespace lumen
