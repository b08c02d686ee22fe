// The whole update as a person reaches it from the check: the offer accepted, the old program
// asked to close, the new one written in its place and started, and the updater gone.
#include "tests/support/reference_md5.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/zip_builder.h"
#include "updater_program.h"

namespace lumen::gui {
namespace {

TEST_F(UpdaterProgramTest, AcceptedOfferClosesTheOldProgramInstallsTheNewOneAndEnds) {
  const std::string oldBuild = test::ReadTextFile(dir_ / "Lumen_Courier.exe");
  const std::string newBuild = test::ReadTextFile(LUMEN_SAMPLE_V2);
  ASSERT_NE(oldBuild, newBuild);
  test::ZipBuilder zip;
  zip.AddDeflated("Lumen_Courier.exe", newBuild);
  const test::Bytes archive = zip.Build().bytes;
  ReleaseServer server;
  server.Serve(kDigestPath, test::ReferenceMd5Hex(newBuild), "text/plain");
  server.Serve(kArchivePath, std::string(archive.begin(), archive.end()), "application/zip");

  // The old program runs, so the updater has to ask for it to be closed.
  ChildProcess oldProgram({dir_ / "Lumen_Courier.exe"}, Display(), dir_.Path());
  x_->WaitFor(kCompanionTitle);
  auto updater = StartUpdater();
  const unsigned long window = x_->WaitFor(kWindowTitle);
  // "A new version is available; install it now?"
  ASSERT_NO_FATAL_FAILURE(CheckAndExpect(window, kInformation));
  ASSERT_NO_FATAL_FAILURE(Confirm(kAttention));  // "the program is running; close it?"

  EXPECT_EQ(oldProgram.WaitExit(), 0) << "the old program was not closed";
  EXPECT_EQ(updater->WaitExit(), 0) << "the updater did not end after the installation";
  EXPECT_EQ(server.Requests(kArchivePath), 1);
  EXPECT_EQ(test::ReadTextFile(dir_ / "Lumen_Courier.exe"), newBuild);
  // The updater started the new program, which it does not wait for; it goes when asked.
  const unsigned long started = x_->WaitFor(kCompanionTitle);
  x_->RequestClose(started);
  EXPECT_TRUE(x_->WaitGone(kCompanionTitle));
}

}  // namespace
}  // namespace lumen::gui
