// Finding the companion program's window by title and asking it to close, against windows of
// another process on a private Xvfb server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/system.h"
#include "tests/support/x_test_window.h"
#include "tests/support/xvfb.h"

// After gtest: Xlib's macros (None, Bool, Status) clash with gtest's own names.
#include <X11/Xlib.h>

namespace lumen {
namespace {

using test::ScopedXvfb;
using test::TestWindowProcess;
using test::TestWindowSpec;
using OnClose = TestWindowSpec::OnClose;
using namespace std::chrono_literals;

class XServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = std::make_unique<ScopedXvfb>(); }
  static void TearDownTestSuite() { server_.reset(); }
  static inline std::unique_ptr<ScopedXvfb> server_;
};

// ---- finding ----

struct FindCase {
  const char* name;
  TestWindowSpec spec;
  std::vector<std::pair<std::string, bool>> queries;  // UTF-8 title asked for, found or not
};
void PrintTo(const FindCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<FindCase> FindCases() {
  const std::string cyrillic = "Люмен Курьер";
  TestWindowSpec netOnly;
  netOnly.netWmName = cyrillic;
  TestWindowSpec wmOnly;
  wmOnly.wmName = "Lumen_courier";
  TestWindowSpec wmUtf8;
  wmUtf8.wmName = cyrillic;
  wmUtf8.wmNameType = TestWindowSpec::NameType::kUtf8String;
  TestWindowSpec both;
  both.netWmName = "Lumen_courier";
  both.wmName = "Old title";
  TestWindowSpec framed;
  framed.netWmName = "Lumen_courier";
  framed.framed = true;
  TestWindowSpec iconic = framed;
  iconic.wmState = 3;
  TestWindowSpec withdrawn = framed;
  withdrawn.wmState = 0;
  TestWindowSpec unmapped;
  unmapped.netWmName = "Lumen_courier";
  unmapped.mapped = false;
  return {
      {"NetWmNameCyrillic",
       netOnly,
       {{cyrillic, true}, {"Люмен", false}, {"люмен курьер", false}, {cyrillic + " ", false}}},
      {"WmNameLatin",
       wmOnly,
       {{"Lumen_courier", true}, {"Lumen_Courier", false}, {"Lumen_courier2", false}, {"", false}}},
      {"WmNameUtf8", wmUtf8, {{cyrillic, true}}},
      {"NetWmNameWinsOverWmName", both, {{"Lumen_courier", true}, {"Old title", false}}},
      {"ClientInsideManagerFrame", framed, {{"Lumen_courier", true}}},
      {"MinimisedStillCounts", iconic, {{"Lumen_courier", true}}},
      {"WithdrawnDoesNotCount", withdrawn, {{"Lumen_courier", false}}},
      {"NeverShownDoesNotCount", unmapped, {{"Lumen_courier", false}}},
  };
}

class FindTopLevelWindowTest : public XServerTest,
                               public ::testing::WithParamInterface<FindCase> {};

TEST_P(FindTopLevelWindowTest, MatchesTheWholeTitleExactly) {
  const FindCase& c = GetParam();
  TestWindowProcess window(c.spec);
  for (const auto& [utf8Title, expected] : c.queries) {
    SCOPED_TRACE(utf8Title);
    const std::optional<TWindowHandle> found = FindTopLevelWindow(Utf8ToAnsi(utf8Title));
    ASSERT_EQ(found.has_value(), expected);
    // The handle names the application's own window, never a frame around it.
    if (found) {
      EXPECT_EQ(found->id, window.Window());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Windows, FindTopLevelWindowTest, ::testing::ValuesIn(FindCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(XServerTest, FindPrefersTheTopmostOfTwoWindowsWithOneTitle) {
  TestWindowSpec spec;
  spec.netWmName = "Lumen_courier";
  TestWindowProcess lower(spec);
  TestWindowProcess upper(spec);
  const std::optional<TWindowHandle> found = FindTopLevelWindow("Lumen_courier");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->id, upper.Window());
}

// ---- closing ----

struct CloseCase {
  const char* name;
  OnClose onClose;
  bool framed;
  bool closes;
};
void PrintTo(const CloseCase& c, std::ostream* os) {
  *os << c.name;
}

class SendCloseAndWaitTest : public XServerTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(SendCloseAndWaitTest, ReportsWhetherTheWindowWent) {
  const CloseCase& c = GetParam();
  TestWindowSpec spec;
  spec.netWmName = "Lumen_courier";
  spec.framed = c.framed;
  spec.onClose = c.onClose;
  TestWindowProcess window(spec);
  const std::optional<TWindowHandle> found = FindTopLevelWindow("Lumen_courier");
  ASSERT_TRUE(found);

  // A window that stays is only given a short while, so the test does not sit out the default.
  const bool closed = SendCloseAndWait(*found, c.closes ? 10s : 300ms);
  EXPECT_EQ(closed, c.closes);
  EXPECT_TRUE(window.CloseRequestArrived()) << "the window never saw WM_DELETE_WINDOW";
  EXPECT_EQ(FindTopLevelWindow("Lumen_courier").has_value(), !c.closes);
  if (c.onClose == OnClose::kDestroy) {
    EXPECT_TRUE(window.ExitedCleanly());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SendCloseAndWaitTest,
    ::testing::Values(CloseCase{"Destroys", OnClose::kDestroy, false, true},
                      CloseCase{"DestroysInFrame", OnClose::kDestroy, true, true},
                      CloseCase{"Withdraws", OnClose::kWithdraw, false, true},
                      CloseCase{"WithdrawsInFrame", OnClose::kWithdraw, true, true},
                      CloseCase{"Ignores", OnClose::kIgnore, false, false},
                      CloseCase{"MinimisesInstead", OnClose::kMinimise, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

int g_foreignErrors = 0;
int CountForeignError(Display*, XErrorEvent*) {
  ++g_foreignErrors;
  return 0;
}

TEST_F(XServerTest, VanishedWindowCountsAsClosedAndLeavesOtherErrorHandlingAlone) {
  TestWindowSpec spec;
  spec.netWmName = "Lumen_courier";
  std::optional<TWindowHandle> gone;
  {
    TestWindowProcess window(spec);
    gone = FindTopLevelWindow("Lumen_courier");
    ASSERT_TRUE(gone);
    ASSERT_TRUE(SendCloseAndWait(*gone));
    ASSERT_TRUE(window.ExitedCleanly());
  }

  // The application's own handler, on its own connection, must see its errors before and after
  // our calls: ours only absorb errors on the connections they open.
  g_foreignErrors = 0;
  const XErrorHandler before = XSetErrorHandler(&CountForeignError);
  Display* own = XOpenDisplay(nullptr);
  ASSERT_NE(own, nullptr);
  const auto provoke = [&] {
    XWindowAttributes attributes;
    XGetWindowAttributes(own, static_cast<Window>(gone->id), &attributes);
    XSync(own, False);
  };
  provoke();
  EXPECT_EQ(g_foreignErrors, 1);

  // Asking a window that no longer exists raises BadWindow on our connection; that must not end
  // the process, and the window is as closed as it gets.
  EXPECT_TRUE(SendCloseAndWait(*gone, 300ms));
  EXPECT_TRUE(SendCloseAndWait(TWindowHandle{0x7FFFFFF}, 300ms));
  EXPECT_FALSE(FindTopLevelWindow("Lumen_courier"));

  provoke();
  EXPECT_EQ(g_foreignErrors, 2);
  XCloseDisplay(own);
  XSetErrorHandler(before);
}

TEST(NoXServer, NothingIsFoundAndNothingCloses) {
  for (const char* display : {static_cast<const char*>(nullptr), ":4093"}) {
    SCOPED_TRACE(display ? display : "(unset)");
    const char* saved = std::getenv("DISPLAY");
    const std::optional<std::string> previous =
        saved ? std::optional<std::string>(saved) : std::nullopt;
    if (display) {
      ::setenv("DISPLAY", display, 1);
    } else {
      ::unsetenv("DISPLAY");
    }
    EXPECT_FALSE(FindTopLevelWindow("Lumen_courier"));
    EXPECT_FALSE(SendCloseAndWait(TWindowHandle{0x400001}, 100ms));
    if (previous) {
      ::setenv("DISPLAY", previous->c_str(), 1);
    } else {
      ::unsetenv("DISPLAY");
    }
  }
}

}  // namespace
}  // namespace lumen
