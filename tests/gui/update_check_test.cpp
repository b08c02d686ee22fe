// The update check of the program as a person uses it: every check answers with its box, and
// once the box is gone the window is ready for the next command.
#include <ostream>

#include "tests/support/reference_md5.h"
#include "tests/support/scratch_dir.h"
#include "updater_program.h"

namespace lumen::gui {
namespace {

struct CheckCase {
  const char* name;
  enum class Server { CurrentRelease, NoDigest, Down } server;
  const char* box;
};

void PrintTo(const CheckCase& c, std::ostream* os) {
  *os << c.name;
}

class UpdateCheckTest : public UpdaterProgramTest,
                        public ::testing::WithParamInterface<CheckCase> {};

TEST_P(UpdateCheckTest, AnswersEveryCheckWithItsBoxAndStaysReady) {
  const CheckCase& c = GetParam();
  const std::string installed = test::ReadTextFile(dir_ / "Lumen_Courier.exe");
  std::unique_ptr<ReleaseServer> server;
  std::unique_ptr<RefusedAddress> refused;
  if (c.server == CheckCase::Server::Down) {
    refused = std::make_unique<RefusedAddress>();
  } else {
    server = std::make_unique<ReleaseServer>();
    if (c.server == CheckCase::Server::CurrentRelease)
      server->Serve(kDigestPath, test::ReferenceMd5Hex(installed), "text/plain");
  }

  auto updater = StartUpdater();
  const unsigned long window = x_->WaitFor(kWindowTitle);
  // The second round shows that the first one left the window ready for the next command.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    CheckAndExpect(window, c.box);
    if (HasFatalFailure()) return;
  }
  if (server) {
    EXPECT_EQ(server->Requests(kDigestPath), 2);
    // A check never downloads the archive; a wrongly offered update answered with Enter would.
    EXPECT_EQ(server->Requests(kArchivePath), 0);
  }

  x_->RequestClose(window);
  EXPECT_EQ(updater->WaitExit(), 0) << "the program did not end with its window";
  EXPECT_EQ(test::ReadTextFile(dir_ / "Lumen_Courier.exe"), installed);
}

INSTANTIATE_TEST_SUITE_P(
    Program, UpdateCheckTest,
    ::testing::Values(CheckCase{"CurrentRelease", CheckCase::Server::CurrentRelease, kInformation},
                      CheckCase{"DigestMissing", CheckCase::Server::NoDigest, kAttention},
                      CheckCase{"ServerDown", CheckCase::Server::Down, kAttention}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumen::gui
