// Open and closed states of the archiver on real archives: what opening, closing, reopening and
// destruction do to the archiver and to the caller's stream.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "archive/dir_manager.h"
#include "archive/za_exception.h"
#include "archive/zip_archiver.h"
#include "platform/codepage.h"
#include "tests/archive/archiver_harness.h"
#include "tests/support/zip_builder.h"

namespace lumen {
namespace {

using test::Bytes;
using test::MakeStream;
using test::StreamBytes;
using test::ZipBuilder;

Bytes SmallArchive() {
  ZipBuilder zb;
  zb.AddDeflated("Lumen_Courier.exe", std::string(5000, 'x') + "end");
  zb.AddStored("readme.txt", "hello");
  return zb.Build().bytes;
}

// A stream that tells whether it has been destroyed, so that a test can see that the archiver
// never releases a stream it was handed.
class WatchedStream : public TMemoryStream {
 public:
  explicit WatchedStream(bool& destroyed) : destroyed_(destroyed) {}
  ~WatchedStream() override { destroyed_ = true; }

 private:
  bool& destroyed_;
};

std::unique_ptr<WatchedStream> Watched(const Bytes& bytes, bool& destroyed) {
  auto stream = std::make_unique<WatchedStream>(destroyed);
  stream->WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream->SetPosition(0);
  return stream;
}

int32_t NativeErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EZAException& e) {
    return e.NativeError();
  }
  return -1;
}

TEST(ArchiverState, OpenExtractCloseLeavesCallerStreamIntactAndAlive) {
  const Bytes bytes = SmallArchive();
  bool destroyed = false;
  auto stream = Watched(bytes, destroyed);
  TZipArchiver archiver;
  int afterOpen = 0;
  archiver.AfterOpen = [&](TZABaseArchiver& sender) {
    EXPECT_EQ(&sender, &archiver);
    EXPECT_TRUE(sender.IsOpen());
    ++afterOpen;
  };

  archiver.OpenFromStream(*stream);
  EXPECT_TRUE(archiver.IsOpen());
  EXPECT_EQ(afterOpen, 1);
  EXPECT_EQ(archiver.ArchiveStream(), stream.get());
  ASSERT_NE(archiver.DirManager(), nullptr);
  EXPECT_EQ(archiver.DirManager()->Directory().Count(), 2);
  EXPECT_TRUE(archiver.StreamOwnedByCaller());

  TMemoryStream out;
  archiver.ExtractEntryTo(u"Lumen_Courier.exe", out);
  EXPECT_EQ(out.Size(), 5003);
  EXPECT_TRUE(archiver.IsOpen());

  archiver.CloseCurrent();
  EXPECT_FALSE(archiver.IsOpen());
  EXPECT_EQ(archiver.ArchiveStream(), nullptr);
  EXPECT_EQ(archiver.DirManager(), nullptr);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(StreamBytes(*stream), bytes);

  archiver.CloseCurrent();  // a second close changes nothing
  EXPECT_FALSE(archiver.IsOpen());
  EXPECT_FALSE(destroyed);
}

TEST(ArchiverState, DestroyingAnOpenArchiverClosesItAndKeepsTheStream) {
  const Bytes bytes = SmallArchive();
  bool destroyed = false;
  auto stream = Watched(bytes, destroyed);
  {
    TComponent form;
    TZipArchiver& archiver = TComponent::Create<TZipArchiver>(form);
    archiver.OpenFromStream(*stream);
    ASSERT_TRUE(archiver.IsOpen());
  }
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(StreamBytes(*stream), bytes);
}

TEST(ArchiverState, NonZipStreamFailsOpenThenExtractionIsRefusedAndCloseSucceeds) {
  const Bytes junk = test::Text("this is no archive, only text without any signature at all");
  bool destroyed = false;
  auto stream = Watched(junk, destroyed);
  TZipArchiver archiver;
  archiver.SetName("ZipArchiver1");
  bool afterOpen = false;
  archiver.AfterOpen = [&](TZABaseArchiver&) { afterOpen = true; };
  try {
    archiver.OpenFromStream(*stream);
    FAIL() << "opened a non-ZIP stream";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError(), 35);
    EXPECT_EQ(e.ErrorCode(), 18);
    EXPECT_EQ(e.Message(), "Invalid archive file. - Native error: 00035");
  }
  EXPECT_FALSE(afterOpen);
  EXPECT_FALSE(archiver.IsOpen());
  // The failed attempt keeps its stream and manager until the next close.
  EXPECT_EQ(archiver.ArchiveStream(), stream.get());
  EXPECT_NE(archiver.DirManager(), nullptr);

  TMemoryStream out;
  try {
    archiver.ExtractEntryTo(u"Lumen_Courier.exe", out);
    FAIL() << "extracted from a failed open";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError(), 13);
    EXPECT_EQ(e.Message(), "ZipArchiver1: Archive is not open - Native error: 00013");
  }
  EXPECT_EQ(out.Size(), 0);

  archiver.CloseCurrent();
  EXPECT_EQ(archiver.ArchiveStream(), nullptr);
  EXPECT_EQ(archiver.DirManager(), nullptr);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(StreamBytes(*stream), junk);
}

TEST(ArchiverState, ExtractionBeforeAnyOpenIsRefused) {
  TZipArchiver archiver;
  TMemoryStream out;
  EXPECT_EQ(NativeErrorOf([&] { archiver.ExtractEntryTo(u"a", out); }), 13);
  archiver.CloseCurrent();
  EXPECT_FALSE(archiver.IsOpen());
}

TEST(ArchiverState, SpanningModeRefusedWhileOpenAndOpenRefusedWhileSpanning) {
  const Bytes bytes = SmallArchive();
  auto stream = MakeStream(bytes);
  TZipArchiver archiver;
  archiver.SetName("ZipArchiver1");
  archiver.OpenFromStream(*stream);
  try {
    archiver.SetSpanningMode(smSpanning);
    FAIL() << "spanning mode changed on an open archive";
  } catch (const EZAException&) {
    FAIL() << "the refusal is the platform's base exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Cannot set spanning mode on open archive");
  }
  EXPECT_EQ(archiver.SpanningMode(), smNone);

  // Spanning set while closed; then an open of another stream is refused before closing anything.
  TZipArchiver spanning;
  spanning.SetName("ZipArchiver1");
  spanning.OpenFromStream(*stream);
  spanning.CloseCurrent();
  spanning.SetSpanningMode(smSpanning);
  auto other = MakeStream(bytes);
  try {
    spanning.OpenFromStream(*other);
    FAIL() << "opened in spanning mode";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError(), 51);
    EXPECT_EQ(e.Message(),
              "ZipArchiver1: Multi-volume archive is not allowed for custom stream - Native error: "
              "00051");
  }
  EXPECT_FALSE(spanning.IsOpen());
}

TEST(ArchiverState, RefusedOpenLeavesTheOpenArchiveOpen) {
  const Bytes bytes = SmallArchive();
  auto first = MakeStream(bytes);
  auto second = MakeStream(bytes);
  TZipArchiver archiver;
  archiver.OpenFromStream(*first);
  // The spanning mode cannot change while open, so an open archive meets the spanning refusal
  // never; CreateNew, which this reader refuses, shows that a refused open closes nothing.
  EXPECT_THROW(archiver.OpenFromStream(*second, true), Exception);
  EXPECT_TRUE(archiver.IsOpen());
  EXPECT_EQ(archiver.ArchiveStream(), first.get());
  EXPECT_EQ(second->Size(), static_cast<int64_t>(bytes.size()));
}

TEST(ArchiverState, OpeningASecondStreamClosesTheFirstWithoutReleasingEither) {
  const Bytes bytes = SmallArchive();
  ZipBuilder zb;
  zb.AddStored("other.txt", "other");
  const Bytes otherBytes = zb.Build().bytes;
  bool firstGone = false, secondGone = false;
  auto first = Watched(bytes, firstGone);
  auto second = Watched(otherBytes, secondGone);
  {
    TZipArchiver archiver;
    archiver.OpenFromStream(*first);
    archiver.OpenFromStream(*second);
    EXPECT_TRUE(archiver.IsOpen());
    EXPECT_EQ(archiver.ArchiveStream(), second.get());
    EXPECT_EQ(archiver.DirManager()->Directory().Count(), 1);
    TMemoryStream out;
    archiver.ExtractEntryTo(u"other.txt", out);
    EXPECT_EQ(StreamBytes(out), test::Text("other"));
  }
  EXPECT_FALSE(firstGone);
  EXPECT_FALSE(secondGone);
  EXPECT_EQ(StreamBytes(*first), bytes);
  EXPECT_EQ(StreamBytes(*second), otherBytes);
}

TEST(ArchiverState, InMemorySwitchReopensTheArchive) {
  const Bytes bytes = SmallArchive();
  auto stream = MakeStream(bytes);
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("lumen-inmemory-" + std::to_string(::getpid()));
  TZipArchiver archiver;
  archiver.SetName("ZipArchiver1");
  archiver.SetInMemory(true);
  archiver.OpenFromStream(*stream);

  // To a file: needs a name, and keeps the setting when it has none.
  EXPECT_EQ(NativeErrorOf([&] { archiver.SetInMemory(false); }), 29);
  EXPECT_TRUE(archiver.InMemory());
  EXPECT_TRUE(archiver.IsOpen());

  archiver.SetFileName(Utf8ToWide(file.string()));
  archiver.SetInMemory(false);
  EXPECT_FALSE(archiver.InMemory());
  ASSERT_TRUE(archiver.IsOpen());
  EXPECT_NE(archiver.ArchiveStream(), stream.get());
  EXPECT_FALSE(archiver.StreamOwnedByCaller());
  EXPECT_EQ(std::filesystem::file_size(file), bytes.size());
  TMemoryStream out;
  archiver.ExtractEntryTo(u"readme.txt", out);
  EXPECT_EQ(StreamBytes(out), test::Text("hello"));

  // Back to memory: a new, empty archive.
  archiver.SetInMemory(true);
  ASSERT_TRUE(archiver.IsOpen());
  EXPECT_EQ(archiver.DirManager()->Directory().Count(), 0);
  EXPECT_EQ(NativeErrorOf([&] { archiver.ExtractEntryTo(u"readme.txt", out); }), 15);
  archiver.CloseCurrent();
  EXPECT_EQ(StreamBytes(*stream), bytes);
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace lumen
