// The update command: download the release archive with live progress, have the companion
// program closed, take its executable out of the archive, put it in place, start it and leave.
#include <cstdint>
#include <optional>

#include "app/unit1.h"
#include "archive/dir_manager.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/stream.h"
#include "platform/system.h"

namespace lumen {
namespace {

// The companion program's main window; its title differs from the file name in one letter.
constexpr const char* kCompanionTitle = "Lumen_courier";

// Box D: the companion program is running and has to close for its file to be replaced.
constexpr uint32_t kCompanionBoxFlags = kMbYesNo | kMbIconWarning;

// Closes the archive however the installation leaves the block, so that neither the directory
// nor a reference to the caller's stream outlives one installation attempt.
class TArchiveSession {
 public:
  explicit TArchiveSession(TZABaseArchiver& archiver) : archiver_(archiver) {}
  ~TArchiveSession() { archiver_.CloseCurrent(); }
  TArchiveSession(const TArchiveSession&) = delete;
  TArchiveSession& operator=(const TArchiveSession&) = delete;

 private:
  TZABaseArchiver& archiver_;
};

// The size the archive declares for the entry the extraction took. The archiver raises an error
// when an entry decodes to any other size, but ends without one when the user cancels its
// password prompt; comparing the result with this is how the installation tells a cancelled
// extraction (nothing written) from a finished one.
std::optional<uint64_t> DeclaredSize(TZABaseArchiver& archiver, const std::u16string& name) {
  TZADirManager* directory = archiver.DirManager();
  int32_t index = -1;
  if (directory == nullptr || !directory->Directory().FindName(name, index)) return std::nullopt;
  return directory->Directory().ItemAt(index).UncompressedSizeValue();
}

}  // namespace

void TForm1::Button2Click(TComponent* /*Sender*/) {
  RunCommand([this] { DownloadAndInstall(); });
}

void TForm1::DownloadAndInstall() {
  TMemoryStream download;
  HttpClient1.Get(ArchiveUrl(), download);
  // A close asked for while the last bytes arrived wins over the installation: the user wants
  // the updater gone, not the companion program replaced behind their back.
  if (closeRequested_) throw EHttpAborted();
  InstallFromArchive(download);
}

void TForm1::InstallFromArchive(TMemoryStream& download) {
  if (const std::optional<TWindowHandle> companion = FindTopLevelWindow(kCompanionTitle)) {
    const std::string text = Utf8ToAnsi("Приложение Люмена запущено, его нужно закрыть.") + "\n" +
                             Utf8ToAnsi("Закрыть?");
    if (window_->MessageBox(text, Utf8ToAnsi("Внимание"), kCompanionBoxFlags) == kIdYes) {
      // A window that does not close in time is no reason to give up: on this system the file
      // of a running program can still be replaced, and the new one starts beside it.
      SendCloseAndWait(*companion, settings_.companionCloseTimeout);
    }
  }

  TMemoryStream extraction;
  {
    TArchiveSession session(ZipArchiver1);
    ZipArchiver1.OpenFromStream(download, false);
    const std::u16string entryName = AnsiToWide(ArchiveEntryName());
    ZipArchiver1.ExtractEntryTo(entryName, extraction);
    const std::optional<uint64_t> declared = DeclaredSize(ZipArchiver1, entryName);
    if (!declared || static_cast<uint64_t>(extraction.Size()) != *declared) {
      // Installing what a cancelled extraction left (nothing) would destroy a working program.
      throw Exception("The update was not extracted");
    }
  }

  // Never in place: the new bytes go beside the old file and replace it in one step, so a
  // failed write leaves the installed program as it was.
  ReplaceFileContents(TargetExePath(), extraction.Memory(), static_cast<size_t>(extraction.Size()));
  extraction.Clear();

  if (FileExists(TargetExePath())) {
    ShellOpen(TargetExePath());
    window_->Close();
  }
}

}  // namespace lumen
