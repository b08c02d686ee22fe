// A body that stops arriving must still give the window its turns: the running total comes
// again while nothing moves, so a user who closes the window (which aborts the transfer) is
// heard at once rather than when the stall limit runs out.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/http_client.h"
#include "platform/stream.h"
#include "tests/support/raw_http_server.h"

namespace lumen {
namespace {

using test::TRawEnd;
using test::TRawHttpServer;
using test::TRawReply;

TEST(HttpClientStall, QuietBodyRepeatsItsTotalSoTheTransferCanBeAborted) {
  const std::string half(3000, 'x');
  TRawHttpServer server(TRawReply::Short(half, 6000, TRawEnd::Stall));
  THttpClient client;
  // Far longer than the repeats take: the transfer must end by the abort, not by the limit.
  client.StallTimeout = std::chrono::seconds(30);
  std::vector<int32_t> counts;
  client.OnWork = [&](TComponent*, TWorkMode, int32_t count) {
    counts.push_back(count);
    // The second report of the same total can only be a repeat during the stall.
    if (counts.size() >= 2 && counts[counts.size() - 2] == count) client.Abort();
  };
  bool ended = false;
  client.OnWorkEnd = [&](TComponent*, TWorkMode) { ended = true; };

  TMemoryStream body;
  EXPECT_THROW(client.Get("http://" + server.Host() + "/", body), EHttpAborted);
  ASSERT_GE(counts.size(), 2u);
  EXPECT_EQ(counts.back(), 3000);
  EXPECT_EQ(body.Size(), 3000);
  EXPECT_TRUE(ended);
}

TEST(HttpClientStall, RefusedReplyGetsNoProgressWhileItsBodyStalls) {
  TRawReply reply = TRawReply::Short("not here", 100, TRawEnd::Stall);
  reply.head.replace(9, 3, "404");
  TRawHttpServer server(reply);
  THttpClient client;
  int events = 0;
  client.OnWork = [&](TComponent*, TWorkMode, int32_t) { ++events; };
  client.OnWorkBegin = [&](TComponent*, TWorkMode, int32_t) { ++events; };
  TMemoryStream body;
  try {
    client.Get("http://" + server.Host() + "/", body);
    ADD_FAILURE() << "a 404 was taken";
  } catch (const EHttpError& error) {
    EXPECT_EQ(error.StatusCode(), 404);
  }
  EXPECT_EQ(events, 0);
}

}  // namespace
}  // namespace lumen
