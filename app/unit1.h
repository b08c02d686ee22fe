// TForm1: the update window. Its layout, the values it holds for the whole run, the progress
// display of downloads and the update check, written against the toolkit interface only.
//
// Contract:
// - The constructor builds the window through the given toolkit and runs FormCreate; the toolkit
//   must outlive the form. The form owns its HTTP clients and its archiver.
// - Commands (the buttons) catch every failure and report it with the one warning box; nothing
//   else escapes them. While a command runs, both buttons are disabled, and a request to close
//   the window aborts the running transfer and closes the window once the command has unwound,
//   without the warning box.
// - FormCreate and the progress handlers catch nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/zip_archiver.h"
#include "platform/component.h"
#include "platform/http_client.h"
#include "platform/stream.h"
#include "platform/toolkit.h"

namespace lumen {

struct TForm1Settings {
  std::string updateServerHost;  // empty: the host fixed at build time
  std::string ownExePath;        // empty: the running program's own path
  // How long to wait for the companion program's window to go after asking it to close.
  std::chrono::milliseconds companionCloseTimeout{std::chrono::seconds(10)};
};

class TForm1 : public TComponent, public IFormEvents {
 public:
  explicit TForm1(IToolkit& toolkit, TForm1Settings settings = {});
  ~TForm1() override;

  void FormCreate(TComponent* Sender);
  void Button1Click(TComponent* Sender);
  std::string GetMD5(const std::string& text);
  std::string GetMD5_File(const std::string& fileName);
  void HttpClient1Work(TComponent* ASender, TWorkMode AWorkMode, int32_t AWorkCount);
  void HttpClient1WorkBegin(TComponent* ASender, TWorkMode AWorkMode, int32_t AWorkCountMax);
  void HttpClient1WorkEnd(TComponent* ASender, TWorkMode AWorkMode);
  void Button2Click(TComponent* Sender);
  // Takes the executable out of the downloaded archive and puts it in place (unit1_install.cpp).
  void InstallFromArchive(TMemoryStream& download);

  // IFormEvents
  void OnClick(const std::string& control) override;
  bool OnCloseQuery() override;

  const std::string& UpdateServerHost() const noexcept { return updateServerHost_; }
  std::string DigestUrl() const;
  std::string ArchiveUrl() const;
  const std::string& TargetExePath() const noexcept { return targetExePath_; }
  const std::string& ArchiveEntryName() const noexcept { return archiveEntryName_; }
  int32_t DownloadTotal() const noexcept { return downloadTotal_; }
  bool CommandRunning() const noexcept { return commandRunning_; }
  IWindow& Window() noexcept { return *window_; }

  THttpClient& HttpClient1;  // the archive download, with the progress handlers
  THttpClient& HttpClient2;  // the digest fetch, without handlers
  TZipArchiver& ZipArchiver1;

 private:
  void RunCommand(const std::function<void()>& command);
  void SetButtonsEnabled(bool enabled);
  // The download into memory and the installation, shared by both commands.
  void DownloadAndInstall();

  TForm1Settings settings_;
  std::string updateServerHost_;
  std::string targetExePath_;
  std::string archiveEntryName_;
  int32_t downloadTotal_ = 0;
  bool commandRunning_ = false;
  bool closeRequested_ = false;
  std::unique_ptr<IWindow> window_;
};

}  // namespace lumen
