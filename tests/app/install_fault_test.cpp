// What an update leaves behind when something goes wrong on the way: the network, the server,
// the archive, the disk, the folder, the user. Every case must end in the one warning box with
// the installed program byte for byte as it was, nothing left in its folder and the archive
// closed; and the next update, once the fault is gone, must work from a clean slate.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/app/install_fixture.h"
#include "tests/support/loopback_server.h"
#include "tests/support/raw_http_server.h"
#include "tests/support/zip_builder.h"

namespace lumen::test {
namespace {

using namespace std::chrono_literals;

const std::string& GoodArchive() {
  static const std::string archive = TUpdateSandbox::ReleaseArchive("2.0");
  return archive;
}

// ---- faults of the transfer and of the archive ----

TRawReply Raw(std::string head, TRawEnd end) {
  TRawReply reply;
  reply.head = std::move(head);
  reply.end = end;
  return reply;
}

struct TransferFault {
  std::string name;
  TRawReply reply;
  size_t requests = 1;  // how many requests the update makes: a redirect is not followed
  // The archive lost only what follows the executable's data: the reader rebuilds its directory
  // from the local headers, checks the entry's size and CRC-32, and the update goes through.
  bool installs = false;
};

void PrintTo(const TransferFault& c, std::ostream* os) {
  *os << c.name;
}

std::vector<TransferFault> TransferFaults() {
  const std::string& good = GoodArchive();
  const size_t half = good.size() / 2;
  std::vector<TransferFault> cases = {
      {"NotFound", TRawReply::Complete("not here", 404)},
      {"ServerError", TRawReply::Complete("oops", 500)},
      {"Redirect", Raw("HTTP/1.1 302 Found\r\nLocation: /quorvale/Lumen_Courier.zip?moved\r\n"
                       "Content-Length: 0\r\nConnection: close\r\n\r\n",
                       TRawEnd::Close)},
      {"ErrorPageWithStatus200", TRawReply::Complete("<html><body>Maintenance</body></html>")},
      {"EmptyBody", TRawReply::Complete("")},
      {"ShorterThanContentLength",
       TRawReply::Short(good.substr(0, half), good.size(), TRawEnd::Close)},
      {"ResetMidBody", TRawReply::Short(good.substr(0, half), good.size(), TRawEnd::Reset)},
      {"StallMidBody", TRawReply::Short(good.substr(0, half), good.size(), TRawEnd::Stall)},
      {"StallBeforeReply", Raw("", TRawEnd::Stall)},
      {"ChunkedCutInsideChunk", TRawReply::Chunked(good, 1000, good.size() / 2)},
      {"ChunkedWithoutLastChunk", TRawReply::Chunked(good, 1000, good.size() + 200)},
      {"ArchiveWithoutTheEntry", TRawReply::Complete([] {
         ZipBuilder zip;
         zip.AddDeflated("Lumen_Courier.exe.txt", TUpdateSandbox::Program("2.0"));
         zip.AddDeflated("bin/Lumen_Courier.exe", TUpdateSandbox::Program("2.0"));
         const ZipLayout layout = zip.Build();
         return std::string(layout.bytes.begin(), layout.bytes.end());
       }())},
      {"EntryFailsItsChecksum", TRawReply::Complete([] {
         ZipBuilder zip;
         zip.AddDeflated("Lumen_Courier.exe", TUpdateSandbox::Program("2.0")).crc32 ^= 1;
         const ZipLayout layout = zip.Build();
         return std::string(layout.bytes.begin(), layout.bytes.end());
       }())},
  };
  // Whatever part of the archive a cut loses (entries, directory, end record), the reader must
  // never install a part of the program: either the entry survived whole and checks out, or the
  // update fails.
  const ZipLayout layout = TUpdateSandbox::ReleaseLayout("2.0");
  const uint64_t afterProgram = layout.localOffsets.at(2);
  auto cut = [&](std::string name, size_t length) {
    cases.push_back(
        {std::move(name), TRawReply::Complete(good.substr(0, length)), 1, length >= afterProgram});
  };
  for (size_t tenth = 1; tenth <= 9; ++tenth) {
    cut("ArchiveCutAt" + std::to_string(tenth) + "Tenths", good.size() * tenth / 10);
  }
  cut("ArchiveCutInsideTheProgram", (layout.localOffsets.at(1) + afterProgram) / 2);
  cut("ArchiveWithoutItsLastByte", good.size() - 1);
  return cases;
}

class TransferFaultTest : public UpdateTest, public ::testing::WithParamInterface<TransferFault> {};

TEST_P(TransferFaultTest, WarnsKeepsTheProgramAndRecovers) {
  const TransferFault& c = GetParam();
  TScopedNoDisplay noDisplay;
  TRawHttpServer server(c.reply);
  const std::string installed = TUpdateSandbox::Program("1.0");
  sandbox.InstallTarget(installed);
  TForm1& form = MakeForm(server.Host());
  // Production waits 30 s for a connection and 60 s for a stalled transfer to move.
  form.HttpClient1.StallTimeout = 1s;
  form.HttpClient1.ConnectTimeout = 2s;

  if (c.installs) {
    toolkit.Click("Button2");
    ExpectInstalled("2.0");
    return;
  }
  toolkit.QueueBoxAnswer(kIdOk);
  toolkit.Click("Button2");
  ExpectFailedCleanly(installed);
  EXPECT_EQ(server.Requests(), c.requests);
  // The end of the download reset the progress display, also for a transfer that broke off.
  const std::vector<std::string> status = toolkit.CaptionHistory("Label4");
  if (!status.empty()) {
    EXPECT_EQ(status.back(), Utf8ToAnsi("Готово."));
  }

  toolkit.ClearEvents();
  server.Serve(TRawReply::Complete(GoodArchive()));
  toolkit.Click("Button2");
  ExpectInstalled("2.0");
}

INSTANTIATE_TEST_SUITE_P(Faults, TransferFaultTest, ::testing::ValuesIn(TransferFaults()),
                         [](const auto& info) { return info.param.name; });

TEST_F(UpdateTest, RefusedConnectionWarnsAndKeepsTheProgram) {
  TScopedNoDisplay noDisplay;
  TRefusingPort port;
  const std::string installed = TUpdateSandbox::Program("1.0");
  sandbox.InstallTarget(installed);
  MakeForm(port.Host());
  toolkit.QueueBoxAnswer(kIdOk);
  toolkit.Click("Button2");
  ExpectFailedCleanly(installed);
}

// ---- faults of the folder the program lives in ----

struct FolderFault {
  const char* name;
  // Sets the fault up in the sandbox; what it returns lifts the fault when released. It may
  // point the form at another updater path (`updaterPath`), in a folder that cannot exist.
  std::function<std::shared_ptr<void>(TUpdateSandbox&, std::string& updaterPath)> arrange;
  bool programInstalled = true;
  // What the fault itself put into the folder; it must be there, unchanged in kind, afterwards.
  const char* prop = nullptr;
  bool propIsFolder = false;
};

void PrintTo(const FolderFault& c, std::ostream* os) {
  *os << c.name;
}

// A folder nobody may write into, root included (see TScopedPermissionChecks).
class TReadOnlyFolder {
 public:
  explicit TReadOnlyFolder(std::string folder) : folder_(std::move(folder)) {
    if (::chmod(folder_.c_str(), 0555) != 0) throw std::runtime_error("chmod " + folder_);
  }
  ~TReadOnlyFolder() { ::chmod(folder_.c_str(), 0755); }

 private:
  std::string folder_;
  TScopedPermissionChecks checks_;
};

std::vector<FolderFault> FolderFaults() {
  return {
      {"DiskFull",
       [](TUpdateSandbox&, std::string&) -> std::shared_ptr<void> {
         // Room for a part of the new program, not for all of it.
         return std::make_shared<TScopedFileSizeLimit>(TUpdateSandbox::Program("2.0").size() / 2);
       }},
      {"ReadOnlyFolder",
       [](TUpdateSandbox& sandbox, std::string&) -> std::shared_ptr<void> {
         return std::make_shared<TReadOnlyFolder>(sandbox.Folder());
       }},
      {"FolderIsAFile",
       [](TUpdateSandbox& sandbox, std::string& updaterPath) -> std::shared_ptr<void> {
         WriteTextFile(sandbox / "not-a-folder", "plain file");
         updaterPath = sandbox / "not-a-folder/lumen-updater";
         return nullptr;
       },
       false, "not-a-folder"},
      {"TargetIsAFolder",
       [](TUpdateSandbox& sandbox, std::string&) -> std::shared_ptr<void> {
         std::filesystem::create_directory(sandbox.TargetPath());
         return nullptr;
       },
       false, "Lumen_Courier.exe", true},
  };
}

class FolderFaultTest : public UpdateTest, public ::testing::WithParamInterface<FolderFault> {};

TEST_P(FolderFaultTest, WarnsAndKeepsTheProgram) {
  const FolderFault& c = GetParam();
  TScopedNoDisplay noDisplay;
  TRawHttpServer server(TRawReply::Complete(GoodArchive()));
  const std::string installed = TUpdateSandbox::Program("1.0");
  if (c.programInstalled) sandbox.InstallTarget(installed);
  std::string updaterPath = sandbox.UpdaterPath();
  {
    const std::shared_ptr<void> fault = c.arrange(sandbox, updaterPath);
    TForm1Settings settings;
    settings.updateServerHost = server.Host();
    settings.ownExePath = updaterPath;
    form = std::make_unique<TForm1>(toolkit, settings);
    toolkit.QueueBoxAnswer(kIdOk);
    toolkit.Click("Button2");
  }
  if (c.prop != nullptr) {
    const std::filesystem::path prop = sandbox / c.prop;
    EXPECT_EQ(std::filesystem::is_directory(prop), c.propIsFolder);
    EXPECT_EQ(std::filesystem::is_regular_file(prop), !c.propIsFolder);
    std::filesystem::remove(prop);
  }
  ExpectFailedCleanly(c.programInstalled ? installed : "<missing>");
}

INSTANTIATE_TEST_SUITE_P(Faults, FolderFaultTest, ::testing::ValuesIn(FolderFaults()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumen::test
