// What the update tests share: a window on the scripted toolkit pointed at a sandbox folder and a
// test server, the boxes the update shows, and the checks every failed update must pass.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "app/unit1.h"
#include "archive/dir_manager.h"
#include "platform/codepage.h"
#include "platform/scripted_toolkit.h"
#include "platform/toolkit.h"
#include "tests/support/update_sandbox.h"

namespace lumen::test {

inline const std::string kBoxCText = Utf8ToAnsi("Сервис не доступен, попробуйте позже.");
inline const std::string kWarningCaption = Utf8ToAnsi("Внимание");
inline const std::string kBoxDText =
    Utf8ToAnsi("Приложение Люмена запущено, его нужно закрыть.") + "\n" + Utf8ToAnsi("Закрыть?");
inline const TShownBox kBoxC{kBoxCText, kWarningCaption, 0x30, kIdOk};

// Keeps the tests that need no window away from any X server the machine may have: the search
// for the companion window then finds nothing, as on a desktop where it is not running.
class TScopedNoDisplay {
 public:
  TScopedNoDisplay() {
    if (const char* display = std::getenv("DISPLAY")) saved_ = display;
    ::unsetenv("DISPLAY");
  }
  ~TScopedNoDisplay() {
    if (saved_) ::setenv("DISPLAY", saved_->c_str(), 1);
  }
  TScopedNoDisplay(const TScopedNoDisplay&) = delete;
  TScopedNoDisplay& operator=(const TScopedNoDisplay&) = delete;

 private:
  std::optional<std::string> saved_;
};

class UpdateTest : public ::testing::Test {
 protected:
  UpdateTest() { SetCurrentToolkit(&toolkit); }
  ~UpdateTest() override { SetCurrentToolkit(nullptr); }

  TForm1& MakeForm(const std::string& host,
                   std::chrono::milliseconds companionCloseTimeout = std::chrono::seconds(10)) {
    TForm1Settings settings;
    settings.updateServerHost = host;
    settings.ownExePath = sandbox.UpdaterPath();
    settings.companionCloseTimeout = companionCloseTimeout;
    form = std::make_unique<TForm1>(toolkit, settings);
    return *form;
  }

  // A command that failed showed box C exactly once, left the installed program and its folder
  // as they were, started nothing, kept the window open and usable, and closed the archive.
  void ExpectFailedCleanly(const std::string& installedBefore) {
    EXPECT_EQ(toolkit.Boxes().size(), 1u);
    if (!toolkit.Boxes().empty()) {
      EXPECT_EQ(toolkit.Boxes().back(), kBoxC);
    }
    EXPECT_TRUE(toolkit.Violations().empty()) << toolkit.Violations().front();
    EXPECT_TRUE(sandbox.TargetBytes() == installedBefore) << "the installed program changed";
    EXPECT_TRUE(sandbox.Leftovers().empty()) << sandbox.Leftovers().front();
    EXPECT_FALSE(toolkit.Closed());
    EXPECT_TRUE(toolkit.Control("Button1").enabled);
    EXPECT_TRUE(toolkit.Control("Button2").enabled);
    ExpectArchiveClosed();
  }

  void ExpectArchiveClosed() {
    EXPECT_FALSE(form->ZipArchiver1.IsOpen());
    EXPECT_EQ(form->ZipArchiver1.DirManager(), nullptr);
    EXPECT_EQ(form->ZipArchiver1.ArchiveStream(), nullptr);
  }

  // A command that installed: the release program of `version` is in place, was started once
  // with no arguments, and the window closed without a warning.
  void ExpectInstalled(const std::string& version) {
    EXPECT_TRUE(sandbox.TargetBytes() == TUpdateSandbox::Program(version))
        << "the program in place is not the release " << version;
    ASSERT_TRUE(sandbox.WaitForStarts(1)) << "the new program did not start";
    EXPECT_EQ(sandbox.Starts(), std::vector<std::string>{version + " 0"});
    EXPECT_TRUE(toolkit.Closed());
    EXPECT_TRUE(sandbox.Leftovers().empty()) << sandbox.Leftovers().front();
    EXPECT_TRUE(toolkit.Violations().empty()) << toolkit.Violations().front();
    for (const TShownBox& box : toolkit.Boxes()) EXPECT_NE(box, kBoxC);
    ExpectArchiveClosed();
  }

  TScriptedToolkit toolkit;
  TUpdateSandbox sandbox;
  std::unique_ptr<TForm1> form;
};

}  // namespace lumen::test
