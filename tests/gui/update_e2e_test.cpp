// The whole update as a person sees it, with the real programs on a private X screen: the
// test build of the updater with its server on this tree's loopback address, the sample companion
// program running in the folder, a release archive served slowly enough to watch. Press "Обновить",
// agree to close the running program, and the old program goes, the new file is in place and
// running, and the updater is gone.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/raw_http_server.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/xvfb.h"
#include "tests/support/zip_builder.h"
#include "x_session.h"

namespace lumen {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using gui::ChildProcess;
using gui::Rect;
using gui::XClient;
using test::ScratchDir;
using test::TRawHttpServer;
using test::TRawReply;

// Pixels that differ between the same region of two screenshots (ImageMagick's compare).
double DifferentPixels(const std::string& a, const std::string& b, const Rect& region) {
  const std::string crop = std::to_string(region.width) + "x" + std::to_string(region.height) +
                           "+" + std::to_string(region.x) + "+" + std::to_string(region.y);
  const std::string command =
      "compare -metric AE -extract " + crop + " '" + a + "' '" + b + "' null: 2>&1";
  std::unique_ptr<FILE, decltype(&::pclose)> pipe(::popen(command.c_str(), "r"), &::pclose);
  if (!pipe) throw std::runtime_error("cannot run compare");
  char buffer[128] = {};
  const size_t got = std::fread(buffer, 1, sizeof buffer - 1, pipe.get());
  return std::stod(std::string(buffer, got));
}

std::string VersionOf(const std::string& program) {
  std::unique_ptr<FILE, decltype(&::pclose)> pipe(
      ::popen(("'" + program + "' --version").c_str(), "r"), &::pclose);
  char buffer[64] = {};
  const size_t got = pipe ? std::fread(buffer, 1, sizeof buffer - 1, pipe.get()) : 0;
  std::string text(buffer, got);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// A folder with the updater and release 1.0 of the companion, a server with release 2.0 that
// pauses half-way through the body, and a private screen.
class UpdateEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"xdotool", "import", "compare"}) {
      ASSERT_TRUE(gui::ProgramAvailable(tool)) << tool;
    }
    // The updater takes the companion from its own folder, so both live in a fresh one.
    fs::copy_file(LUMEN_E2E_UPDATER, updater);
    fs::copy_file(LUMEN_SAMPLE_V1, target);
    ASSERT_EQ(VersionOf(target), "1.0");

    test::ZipBuilder zip;
    zip.AddDeflated("Lumen_Courier.exe", newProgram);
    const test::ZipLayout layout = zip.Build();
    const std::string archive(layout.bytes.begin(), layout.bytes.end());
    // Slow pieces, then a pause half-way that lasts until the test lets it go on.
    TRawReply reply = TRawReply::Complete(archive);
    reply.piece = archive.size() / 40 + 1;
    reply.pause = 50ms;
    reply.holdAt = archive.size() / 2;
    // The test build of the updater knows only this tree's own loopback address.
    server = std::make_unique<TRawHttpServer>(reply, LUMEN_E2E_PORT, LUMEN_E2E_ADDRESS);
    screen = std::make_unique<test::ScopedXvfb>();
    display = screen->DisplayName();
    x = std::make_unique<XClient>(display);
  }

  // Starts the updater and presses "Обновить"; returns its window.
  unsigned long StartUpdate(std::unique_ptr<ChildProcess>& process) {
    process =
        std::make_unique<ChildProcess>(std::vector<std::string>{updater}, display, folder.Path());
    const unsigned long window = x->WaitFor("Модуль обновления");
    gui::Screenshot(display, before);
    gui::ClickAt(display, *x, window, 224 + 137 / 2, 32 + 25 / 2);
    return window;
  }

  ScratchDir folder;
  const std::string updater = folder / "lumen-updater";
  const std::string target = folder / "Lumen_Courier.exe";
  const std::string newProgram = test::ReadTextFile(LUMEN_SAMPLE_V2);
  const std::string shots = std::string(LUMEN_BINARY_DIR) + "/tests/gui/screenshots";
  const std::string before = shots + "/update-before.png";
  std::unique_ptr<TRawHttpServer> server;
  std::unique_ptr<test::ScopedXvfb> screen;
  std::string display;
  std::unique_ptr<XClient> x;
};

TEST_F(UpdateEndToEnd, ReplacesTheRunningCompanionAndLeaves) {
  ChildProcess oldCompanion({target}, display, folder.Path());
  x->WaitFor("Lumen_courier");
  std::unique_ptr<ChildProcess> updaterProcess;
  const unsigned long window = StartUpdate(updaterProcess);
  const std::string during = shots + "/update-during-download.png";
  ASSERT_TRUE(server->WaitUntilHeld()) << "the updater did not download";
  // The window repaints between pieces; wait until the picture shows the download under way.
  const Rect frame = x->Geometry(window);
  const Rect bar{frame.x + 8, frame.y + 88, 353, 23};
  const Rect counter{frame.x + 72, frame.y + 69, 220, 13};
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  bool barMoved = false;
  bool counterMoved = false;
  while (!(barMoved && counterMoved) && std::chrono::steady_clock::now() < deadline) {
    gui::Screenshot(display, during);
    barMoved = DifferentPixels(before, during, bar) > 20;
    counterMoved = DifferentPixels(before, during, counter) > 20;
  }
  EXPECT_TRUE(barMoved) << "no progress on the bar in " << during;
  EXPECT_TRUE(counterMoved) << "no byte counter in " << during;
  server->Release();

  // The running companion makes the updater ask; Yes (the default button) closes it.
  const unsigned long box = x->WaitFor("Внимание");
  gui::PressKeys(display, box, {"Return"});
  EXPECT_TRUE(oldCompanion.WaitExit().has_value()) << "the old companion did not close";
  EXPECT_EQ(updaterProcess->WaitExit(), std::optional<int>(0)) << "the updater did not end";

  EXPECT_TRUE(test::ReadTextFile(target) == newProgram) << "the new program is not in place";
  EXPECT_EQ(VersionOf(target), "2.0");
  // The new companion was started by the updater, detached; close it as its user would.
  const unsigned long started = x->WaitFor("Lumen_courier");
  x->RequestClose(started);
  EXPECT_TRUE(x->WaitGone("Lumen_courier"));
}

// Closing the window while the archive downloads stops the transfer and ends the updater
// quietly: no warning, nothing installed.
TEST_F(UpdateEndToEnd, ClosingDuringTheDownloadEndsWithoutInstalling) {
  std::unique_ptr<ChildProcess> updaterProcess;
  const unsigned long window = StartUpdate(updaterProcess);
  ASSERT_TRUE(server->WaitUntilHeld()) << "the updater did not download";
  x->RequestClose(window);
  EXPECT_EQ(updaterProcess->WaitExit(), std::optional<int>(0)) << "the updater did not end";
  EXPECT_FALSE(x->Find("Внимание").has_value());
  EXPECT_EQ(VersionOf(target), "1.0");
  EXPECT_EQ(folder.List(), (std::vector<std::string>{"Lumen_Courier.exe", "lumen-updater"}));
}

}  // namespace
}  // namespace lumen
