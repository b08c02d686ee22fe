// The update end to end on real parts: the release archive served over loopback HTTP, the
// window on the scripted toolkit, the executable replaced in a real folder and really started,
// and the companion program's window on a private X server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/app/install_fixture.h"
#include "tests/support/loopback_server.h"
#include "tests/support/raw_http_server.h"
#include "tests/support/x_test_window.h"
#include "tests/support/xvfb.h"

namespace lumen::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kArchivePath = "/quorvale/Lumen_Courier.zip";
constexpr const char* kDigestPath = "/quorvale/update.md5";

// ---- the two ways to an update, with and without an installed program ----

struct RouteCase {
  const char* name;
  bool fromCheck;       // Button1 and Yes to the offer, else Button2
  bool installedFirst;  // a program is in place before the update
  TBodyMode body;
};

void PrintTo(const RouteCase& c, std::ostream* os) {
  *os << c.name;
}

class UpdateRouteTest : public UpdateTest, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(UpdateRouteTest, ReplacesStartsOnceAndCloses) {
  const RouteCase& c = GetParam();
  TScopedNoDisplay noDisplay;
  TLoopbackServer server;
  const std::string archive = TUpdateSandbox::ReleaseArchive("2.0");
  server.Serve(kArchivePath, {.body = archive, .mode = c.body});
  server.ServeText(kDigestPath, "00000000000000000000000000000000");
  if (c.installedFirst) sandbox.InstallTarget(TUpdateSandbox::Program("1.0"));
  TForm1& form = MakeForm(server.Host());

  // While the download runs, no second command can start.
  bool sawProgress = false;
  bool buttonsDisabled = true;
  toolkit.OnProcessMessages = [&] {
    sawProgress = true;
    buttonsDisabled = buttonsDisabled && !toolkit.Control("Button1").enabled &&
                      !toolkit.Control("Button2").enabled;
  };
  if (c.fromCheck) toolkit.QueueBoxAnswer(kIdYes);
  toolkit.Click(c.fromCheck ? "Button1" : "Button2");

  ExpectInstalled("2.0");
  EXPECT_EQ(server.RequestCount(kArchivePath), 1u);
  EXPECT_TRUE(sawProgress);
  EXPECT_TRUE(buttonsDisabled);
  // The byte counter reached the whole archive before the end of the download reset it.
  const std::string full = std::to_string(archive.size());
  const std::vector<std::string> status = toolkit.CaptionHistory("Label4");
  EXPECT_NE(std::find(status.begin(), status.end(),
                      full + Utf8ToAnsi(" байт из ") + (c.body == TBodyMode::Chunked ? "0" : full) +
                          Utf8ToAnsi(" байт")),
            status.end());
  EXPECT_EQ(form.ZipArchiver1.Name(), "ZipArchiver1");
  EXPECT_EQ(toolkit.Boxes().size(), c.fromCheck ? 1u : 0u);  // the offer, and no box D
}

INSTANTIATE_TEST_SUITE_P(
    Routes, UpdateRouteTest,
    ::testing::Values(RouteCase{"UpdateButton", false, true, TBodyMode::Complete},
                      RouteCase{"UpdateButtonChunkedBody", false, true, TBodyMode::Chunked},
                      RouteCase{"UpdateButtonNothingInstalled", false, false, TBodyMode::Complete},
                      RouteCase{"CheckThenYes", true, true, TBodyMode::Complete}),
    [](const auto& info) { return std::string(info.param.name); });

// A failure after the offer was accepted is reported once, by the check's own handler.
TEST_F(UpdateTest, FailureAfterAcceptedOfferShowsOneWarning) {
  TScopedNoDisplay noDisplay;
  TLoopbackServer server;
  server.ServeText(kDigestPath, "00000000000000000000000000000000");
  server.Serve(kArchivePath, {.body = "<html>Service temporarily unavailable</html>"});
  const std::string installed = TUpdateSandbox::Program("1.0");
  sandbox.InstallTarget(installed);
  MakeForm(server.Host());

  toolkit.QueueBoxAnswer(kIdYes);
  toolkit.QueueBoxAnswer(kIdOk);
  toolkit.Click("Button1");

  ASSERT_EQ(toolkit.Boxes().size(), 2u);
  EXPECT_EQ(toolkit.Boxes()[1], kBoxC);
  EXPECT_TRUE(sandbox.TargetBytes() == installed) << "the installed program changed";
  EXPECT_FALSE(toolkit.Closed());
  ExpectArchiveClosed();
}

// ---- an encrypted release: the archiver asks for the password ----

// The release program zipped by Info-ZIP with traditional encryption.
std::string EncryptedRelease(const std::string& version) {
  ScratchDir work;
  WriteTextFile(work / "Lumen_Courier.exe", TUpdateSandbox::Program(version));
  const std::string command =
      "cd '" + work.Path() + "' && zip -q -P secret release.zip Lumen_Courier.exe";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("zip failed");
  return ReadTextFile(work / "release.zip");
}

TEST_F(UpdateTest, EncryptedReleaseInstallsWithThePasswordAndNeverEmptiesOnCancel) {
  TScopedNoDisplay noDisplay;
  TLoopbackServer server;
  server.Serve(kArchivePath, {.body = EncryptedRelease("2.0")});
  const std::string installed = TUpdateSandbox::Program("1.0");
  sandbox.InstallTarget(installed);
  MakeForm(server.Host());

  // A wrong password asks again; a cancel then leaves nothing extracted, and an empty file must
  // not take the place of the installed program.
  toolkit.QueuePasswordAnswer("wrong");
  toolkit.QueuePasswordAnswer(std::nullopt);
  toolkit.QueueBoxAnswer(kIdOk);
  toolkit.Click("Button2");
  EXPECT_EQ(toolkit.Prompts().size(), 2u);
  ExpectFailedCleanly(installed);

  toolkit.ClearEvents();
  toolkit.QueuePasswordAnswer("secret");
  toolkit.Click("Button2");
  ExpectInstalled("2.0");
}

// ---- the user closes the window while the archive downloads ----

TEST_F(UpdateTest, ClosingDuringDownloadAbortsAndEndsWithoutWarning) {
  TScopedNoDisplay noDisplay;
  const std::string archive = TUpdateSandbox::ReleaseArchive("2.0");
  TRawReply reply = TRawReply::Complete(archive);
  reply.holdAt = archive.size() / 2;  // the rest comes only if the updater waits for it
  TRawHttpServer server(reply);
  const std::string installed = TUpdateSandbox::Program("1.0");
  sandbox.InstallTarget(installed);
  MakeForm(server.Host());

  bool closeAsked = false;
  bool closedAtOnce = true;
  bool secondCommandStarted = true;
  toolkit.OnProcessMessages = [&] {
    if (closeAsked ||
        toolkit.Control("Label4").caption.find(Utf8ToAnsi(" байт из ")) == std::string::npos) {
      return;
    }
    closeAsked = true;
    secondCommandStarted = toolkit.Click("Button1");
    closedAtOnce = toolkit.UserClose();
  };
  toolkit.Click("Button2");

  EXPECT_TRUE(closeAsked);
  EXPECT_FALSE(secondCommandStarted);
  // The window refuses to vanish under the running command and closes once it has unwound.
  EXPECT_FALSE(closedAtOnce);
  EXPECT_TRUE(toolkit.Closed());
  EXPECT_TRUE(toolkit.Boxes().empty());
  EXPECT_TRUE(sandbox.TargetBytes() == installed) << "the installed program changed";
  EXPECT_TRUE(sandbox.Leftovers().empty());
  EXPECT_EQ(server.Requests(), 1u);
  ExpectArchiveClosed();
}

// ---- the companion program's window ----

class CompanionTest : public UpdateTest {
 protected:
  static void SetUpTestSuite() { display_ = std::make_unique<ScopedXvfb>(); }
  static void TearDownTestSuite() { display_.reset(); }

  CompanionTest() : server_(TRawReply::Complete(TUpdateSandbox::ReleaseArchive("2.0"))) {
    sandbox.InstallTarget(TUpdateSandbox::Program("1.0"));
  }

  static TestWindowSpec Titled(const std::string& title, TestWindowSpec::OnClose onClose) {
    TestWindowSpec spec;
    spec.netWmName = title;
    spec.wmName = title;
    spec.onClose = onClose;
    return spec;
  }

  TRawHttpServer server_;
  static inline std::unique_ptr<ScopedXvfb> display_;
};

TEST_F(CompanionTest, OtherWindowsAreNotAskedAbout) {
  // The file's spelling, not the window's: a different title.
  TestWindowProcess other(Titled("Lumen_Courier", TestWindowSpec::OnClose::kDestroy));
  MakeForm(server_.Host());
  toolkit.Click("Button2");
  ExpectInstalled("2.0");
  EXPECT_TRUE(toolkit.Boxes().empty());
  EXPECT_FALSE(other.CloseRequestArrived(0));
}

struct CompanionCase {
  const char* name;
  int answer;
  TestWindowSpec::OnClose onClose;
  bool closeRequested;
};

void PrintTo(const CompanionCase& c, std::ostream* os) {
  *os << c.name;
}

class CompanionAnswerTest : public CompanionTest,
                            public ::testing::WithParamInterface<CompanionCase> {};

// Whatever the answer, and whether or not the program obeys, the update goes on: on this system
// a running program's file can be renamed over, and the new one starts beside the old.
TEST_P(CompanionAnswerTest, AsksOnceAndInstallsWhateverTheOutcome) {
  const CompanionCase& c = GetParam();
  TestWindowProcess companion(Titled("Lumen_courier", c.onClose));
  // Short, so that a companion that ignores the request costs the test little.
  MakeForm(server_.Host(), 500ms);
  toolkit.QueueBoxAnswer(c.answer);
  toolkit.Click("Button2");

  ASSERT_EQ(toolkit.Boxes().size(), 1u);
  EXPECT_EQ(toolkit.Boxes()[0], (TShownBox{kBoxDText, kWarningCaption, 0x34, c.answer}));
  EXPECT_EQ(companion.CloseRequestArrived(c.closeRequested ? 10 : 0), c.closeRequested);
  if (c.onClose == TestWindowSpec::OnClose::kDestroy && c.closeRequested) {
    // The request was obeyed and the program ended; that the installation waits for the window
    // to be gone before extracting is the close-and-wait call's own contract, tested with it.
    EXPECT_TRUE(companion.ExitedCleanly());
  }
  ExpectInstalled("2.0");
}

INSTANTIATE_TEST_SUITE_P(Answers, CompanionAnswerTest,
                         ::testing::Values(CompanionCase{"YesAndItCloses", kIdYes,
                                                         TestWindowSpec::OnClose::kDestroy, true},
                                           CompanionCase{"YesButItNeverCloses", kIdYes,
                                                         TestWindowSpec::OnClose::kIgnore, true},
                                           CompanionCase{"NoLeavesItRunning", kIdNo,
                                                         TestWindowSpec::OnClose::kDestroy, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumen::test
