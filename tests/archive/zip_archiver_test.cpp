// The archiver component's settings and hooks: constructor defaults, setters with behaviour,
// and what each hook does with and without a handler.
#include "archive/zip_archiver.h"

#include <gtest/gtest.h>

#include <clocale>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/za_exception.h"
#include "platform/toolkit.h"

namespace lumen {
namespace {

// A toolkit that answers the archiver's question boxes and password prompts from queues and
// records what was asked. The archiver has no window, so only these two calls may happen.
class AnsweringToolkit : public IToolkit {
 public:
  struct Box {
    std::string text, caption;
    std::vector<int> buttons;
  };
  struct Prompt {
    std::string caption, label;
  };

  std::unique_ptr<IWindow> CreateForm(const TFormSpec&, IFormEvents&) override {
    throw std::logic_error("the archiver creates no window");
  }
  void Run() override { throw std::logic_error("the archiver runs no message loop"); }
  bool PasswordPrompt(const std::string& caption, const std::string& label,
                      std::string& password) override {
    prompts.push_back({caption, label});
    EXPECT_TRUE(password.empty()) << "the prompt starts empty";
    if (passwords.empty()) throw std::logic_error("unexpected password prompt");
    std::optional<std::string> answer = passwords.front();
    passwords.pop_front();
    if (!answer) return false;
    password = *answer;
    return true;
  }
  int QuestionBox(const std::string& text, const std::string& caption,
                  const std::vector<int>& buttons) override {
    boxes.push_back({text, caption, buttons});
    if (answers.empty()) throw std::logic_error("unexpected question box");
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::deque<std::optional<std::string>> passwords;
  std::deque<int> answers;
  std::vector<Prompt> prompts;
  std::vector<Box> boxes;
};

// Installs a toolkit for one test and removes it again, whatever happens.
class InstalledToolkit {
 public:
  explicit InstalledToolkit(IToolkit* toolkit) : previous_(CurrentToolkit()) {
    SetCurrentToolkit(toolkit);
  }
  ~InstalledToolkit() { SetCurrentToolkit(previous_); }

 private:
  IToolkit* previous_;
};

// Opens the hooks to the tests, as a subclass of the component would use them.
class HookedArchiver : public TZipArchiver {
 public:
  using TZipArchiver::ConfirmOverwrite;
  using TZipArchiver::ConfirmProcessFile;
  using TZipArchiver::NotifyCopyTempFileProgress;
  using TZipArchiver::NotifyDiskFull;
  using TZipArchiver::NotifyFileFailure;
  using TZipArchiver::NotifyFileProgress;
  using TZipArchiver::NotifyOverallProgress;
  using TZipArchiver::RequestBlankVolume;
  using TZipArchiver::RequestPassword;
};

TEST(ZipArchiverDefaults, OwnedArchiverStartsInItsDefaultState) {
  TComponent form;
  TZipArchiver& a = TComponent::Create<TZipArchiver>(form);
  a.SetName("ZipArchiver1");
  EXPECT_EQ(a.Owner(), &form);

  EXPECT_FALSE(a.ExtractCorruptedFiles());
  EXPECT_EQ(a.CompressionLevel(), clFastest);
  EXPECT_EQ(a.CompressionMode(), 1);
  EXPECT_EQ(a.CompressionMethod(), 8);
  EXPECT_EQ(a.CurrentVersion(), u"1.00 ");
  EXPECT_TRUE(a.Password().empty());
  EXPECT_TRUE(a.FileName().empty());
  EXPECT_TRUE(a.BaseDir().empty());
  EXPECT_TRUE(a.TempDir().empty());
  EXPECT_EQ(a.SpanningMode(), smNone);
  EXPECT_TRUE(a.SFXStub().empty());
  EXPECT_TRUE(a.FileMasks().empty());
  EXPECT_TRUE(a.ExclusionMasks().empty());
  EXPECT_TRUE(a.NoCompressionMasks().empty());
  EXPECT_FALSE(a.InMemory());
  EXPECT_EQ(a.Zip64Mode(), zmDisabled);
  EXPECT_FALSE(a.UnicodeFilenames());
  EXPECT_EQ(a.EncryptionMethod(), caPkzipClassic);

  const TZASpanningOptions& s = a.SpanningOptions();
  EXPECT_FALSE(s.AdvancedNaming());
  EXPECT_EQ(s.FirstVolumeSize(), 0);
  EXPECT_EQ(s.VolumeSize(), vsAutoDetect);
  EXPECT_EQ(s.CustomVolumeSize(), 0);

  const TZAOptions& o = a.Options();
  EXPECT_EQ(o.StorePath(), spRelativePath);
  EXPECT_TRUE(o.Recurse());
  EXPECT_EQ(o.ShareMode(), smShareDenyNone);
  EXPECT_EQ(o.OverwriteMode(), omAlways);
  EXPECT_TRUE(o.CreateDirs());
  EXPECT_TRUE(o.ReplaceReadOnly());
  EXPECT_TRUE(o.SetAttributes());
  EXPECT_EQ(o.SearchAttr(), 10431u);
  EXPECT_TRUE(o.FlushBuffers());
  EXPECT_TRUE(o.OEMFileNames());

  EXPECT_FALSE(a.IsOpen());
  EXPECT_EQ(a.UpdateDepth(), 0);
  EXPECT_EQ(a.ArchiveStream(), nullptr);
  EXPECT_TRUE(a.RepairDirectory());
  EXPECT_EQ(a.VolumeInfo().VolumeKind, vkNotSet);
  EXPECT_EQ(a.VolumeInfo().VolumeNumber, -1);
  EXPECT_EQ(a.VolumeInfo().LastVolumeNumber, -1);
}

TEST(ZipArchiverDefaults, BaseArchiverLeavesMethodAndZip64ToSubclasses) {
  struct Base : TZABaseArchiver {
    using TZABaseArchiver::Zip64Mode;
  } base;
  EXPECT_EQ(base.CompressionMode(), 1);
  EXPECT_EQ(base.CompressionMethod(), 0xFFFF);
  EXPECT_EQ(base.Zip64Mode(), zmAuto);
}

struct LevelCase {
  TZACompressionLevel level;
  int mode;
  int method;
};

TEST(ZipArchiverSetters, CompressionLevelSetsModeAndMethod) {
  const LevelCase cases[] = {{clNormal, 6, 8}, {clNone, 0, 0}, {clMax, 9, 8}, {clFastest, 1, 8}};
  TZipArchiver a;
  for (const LevelCase& c : cases) {
    a.SetCompressionLevel(c.level);
    EXPECT_EQ(a.CompressionMode(), c.mode) << int(c.level);
    EXPECT_EQ(a.CompressionMethod(), c.method) << int(c.level);
  }
}

TEST(ZipArchiverSetters, CompressionModeSetsLevelAndMethod) {
  const LevelCase cases[] = {{clNone, 0, 0},   {clFastest, 1, 8}, {clFastest, 3, 8},
                             {clNormal, 4, 8}, {clNormal, 6, 8},  {clMax, 7, 8},
                             {clMax, 9, 8}};
  TZipArchiver a;
  for (const LevelCase& c : cases) {
    a.SetCompressionMode(c.mode);
    EXPECT_EQ(a.CompressionMode(), c.mode);
    EXPECT_EQ(a.CompressionLevel(), c.level) << c.mode;
    EXPECT_EQ(a.CompressionMethod(), c.method) << c.mode;
  }
}

TEST(ZipArchiverSetters, CompressionModeOutOfRangeRaisesFiveAndKeepsOldMode) {
  TZipArchiver a;
  a.SetName("ZipArchiver1");
  for (int mode : {10, 255, -1}) {
    try {
      a.SetCompressionMode(mode);
      ADD_FAILURE() << "mode " << mode << " accepted";
    } catch (const EZAException& e) {
      EXPECT_EQ(e.NativeError(), 5);
      EXPECT_EQ(e.ErrorCode(), 2);
      EXPECT_EQ(e.Message(),
                "ZipArchiver1: Invalid compression mode. Mode must be in [0-9] range - Native "
                "error: 00005");
    }
    EXPECT_EQ(a.CompressionMode(), 1);
    EXPECT_EQ(a.CompressionLevel(), clFastest);
    EXPECT_EQ(a.CompressionMethod(), 8);
  }
}

TEST(ZipArchiverSetters, CurrentVersionIgnoresAssignmentWhateverTheLocale) {
  TZipArchiver a;
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  // A locale with a decimal comma, where one is installed; the text must not follow it.
  std::setlocale(LC_NUMERIC, "ru_RU.UTF-8");
  a.SetCurrentVersion(u"2,50");
  EXPECT_EQ(a.CurrentVersion(), u"1.00 ");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(ZipArchiverSetters, SimpleSettersStoreTheirValues) {
  TZipArchiver a;
  a.SetPassword("secret");
  a.SetFileName(u"C:\\a.zip");
  a.SetFileMasks({u"*.txt", u"*.exe"});
  a.SetSpanningMode(smSplitting);
  a.SetInMemory(true);
  a.SetInMemory(true);
  EXPECT_EQ(a.Password(), "secret");
  EXPECT_EQ(a.FileName(), u"C:\\a.zip");
  EXPECT_EQ(a.FileMasks(), (std::vector<std::u16string>{u"*.txt", u"*.exe"}));
  EXPECT_EQ(a.SpanningMode(), smSplitting);
  EXPECT_TRUE(a.InMemory());
  a.SetInMemory(false);
  EXPECT_FALSE(a.InMemory());
}

TEST(ZipArchiverSetters, CustomVolumeSizeHasAFloor) {
  const struct {
    int64_t given, kept;
  } cases[] = {{0, 65536}, {-5, 65536}, {65535, 65536}, {65536, 65536}, {1LL << 40, 1LL << 40}};
  TZASpanningOptions s;
  for (const auto& c : cases) {
    s.SetCustomVolumeSize(c.given);
    EXPECT_EQ(s.CustomVolumeSize(), c.kept) << c.given;
  }
}

TEST(ZipArchiverSetters, OptionsAssignmentCopiesAllButShareMode) {
  TZAOptions from;
  from.SetStorePath(spFullPathWithDrive);
  from.SetRecurse(false);
  from.SetShareMode(smShareExclusive);
  from.SetOverwriteMode(omNever);
  from.SetCreateDirs(false);
  from.SetReplaceReadOnly(false);
  from.SetSetAttributes(false);
  from.SetSearchAttr(0x10);
  from.SetFlushBuffers(false);
  from.SetOEMFileNames(false);
  TZipArchiver a;
  a.SetOptions(from);
  const TZAOptions& o = a.Options();
  EXPECT_EQ(o.StorePath(), spFullPathWithDrive);
  EXPECT_FALSE(o.Recurse());
  EXPECT_EQ(o.ShareMode(), smShareDenyNone);
  EXPECT_EQ(o.OverwriteMode(), omNever);
  EXPECT_FALSE(o.CreateDirs());
  EXPECT_FALSE(o.ReplaceReadOnly());
  EXPECT_FALSE(o.SetAttributes());
  EXPECT_EQ(o.SearchAttr(), 0x10u);
  EXPECT_FALSE(o.FlushBuffers());
  EXPECT_FALSE(o.OEMFileNames());
}

TEST(ZipArchiverSetters, SpanningOptionsAssignmentCopiesEveryValue) {
  TZASpanningOptions from;
  from.SetAdvancedNaming(true);
  from.SetFirstVolumeSize(1000);
  from.SetVolumeSize(vs650MB);
  from.SetCustomVolumeSize(100000);
  TZipArchiver a;
  a.SetSpanningOptions(from);
  EXPECT_TRUE(a.SpanningOptions().AdvancedNaming());
  EXPECT_EQ(a.SpanningOptions().FirstVolumeSize(), 1000);
  EXPECT_EQ(a.SpanningOptions().VolumeSize(), vs650MB);
  EXPECT_EQ(a.SpanningOptions().CustomVolumeSize(), 100000);
}

TEST(ZipArchiverHooks, UnassignedHooksClearCancelAndConfirm) {
  HookedArchiver a;
  bool cancel = true;
  a.NotifyOverallProgress(poExtract, ppStart, 0, cancel);
  EXPECT_FALSE(cancel);
  cancel = true;
  a.NotifyFileProgress(u"a/b", poExtract, 50, ppProcess, cancel);
  EXPECT_FALSE(cancel);
  cancel = true;
  a.NotifyCopyTempFileProgress(10, ppProcess, cancel);
  EXPECT_FALSE(cancel);
  bool confirm = false;
  a.ConfirmProcessFile(u"a", poAdd, confirm);
  EXPECT_TRUE(confirm);
}

TEST(ZipArchiverHooks, ProgressEventsSeeBackslashesAndMayCancel) {
  HookedArchiver a;
  std::vector<std::u16string> names;
  a.OnFileProgress = [&](TZABaseArchiver& sender, const std::u16string& name, double progress,
                         TZAProcessOperation op, TZAProgressPhase phase, bool& cancel) {
    EXPECT_EQ(&sender, &a);
    EXPECT_FALSE(cancel);
    EXPECT_EQ(progress, 25.0);
    EXPECT_EQ(op, poExtract);
    EXPECT_EQ(phase, ppProcess);
    names.push_back(name);
    cancel = true;
  };
  bool cancel = true;
  a.NotifyFileProgress(u"dir/sub/file.txt", poExtract, 25, ppProcess, cancel);
  EXPECT_TRUE(cancel);
  EXPECT_EQ(names, std::vector<std::u16string>{u"dir\\sub\\file.txt"});
}

TEST(ZipArchiverHooks, DiskFullRaisesWithoutComponentNameUnlessHandled) {
  HookedArchiver a;
  a.SetName("ZipArchiver1");
  bool cancel = true;
  try {
    a.NotifyDiskFull(-1, u"", cancel);
    ADD_FAILURE() << "no exception";
  } catch (const EZAException& e) {
    EXPECT_EQ(e.NativeError(), 65);
    EXPECT_EQ(e.Message(),
              "Disk is full. There is not enough free space on disk. - Native error: 00065");
  }
  int seenVolume = -100;
  a.OnDiskFull = [&](TZABaseArchiver&, int32_t volume, const std::u16string& name, bool& c) {
    seenVolume = volume;
    EXPECT_EQ(name, u"x.zip");
    EXPECT_FALSE(c);
    c = true;
  };
  cancel = false;
  a.NotifyDiskFull(-1, u"x.zip", cancel);
  EXPECT_EQ(seenVolume, 0);
  EXPECT_TRUE(cancel);
}

TEST(ZipArchiverHooks, PasswordEventPassesValuesThrough) {
  HookedArchiver a;
  a.OnPassword = [](TZABaseArchiver&, const std::u16string& name, std::string& pwd, bool& skip) {
    EXPECT_EQ(name, u"dir/a.txt");
    EXPECT_EQ(pwd, "old");
    EXPECT_FALSE(skip);
    pwd = "new";
  };
  std::string pwd = "old";
  bool skip = false;
  a.RequestPassword(u"dir/a.txt", pwd, skip);
  EXPECT_EQ(pwd, "new");
  EXPECT_FALSE(skip);
}

TEST(ZipArchiverHooks, BuiltInPasswordPromptAsksThroughToolkit) {
  AnsweringToolkit toolkit;
  InstalledToolkit installed(&toolkit);
  toolkit.passwords = {std::string("typed"), std::nullopt};
  HookedArchiver a;
  std::string pwd = "old";
  bool skip = true;
  a.RequestPassword(u"\u0444.txt", pwd, skip);
  EXPECT_EQ(pwd, "typed");
  EXPECT_FALSE(skip);
  ASSERT_EQ(toolkit.prompts.size(), 1u);
  EXPECT_EQ(toolkit.prompts[0].caption, "Password for \"\xF4.txt\"");
  EXPECT_EQ(toolkit.prompts[0].label, "Enter password: ");

  // Cancel leaves the password as it was.
  a.RequestPassword(u"a.txt", pwd, skip);
  EXPECT_EQ(pwd, "typed");
  EXPECT_TRUE(skip);
}

TEST(ZipArchiverHooks, NoToolkitMeansThePromptIsDeclined) {
  InstalledToolkit none(nullptr);
  HookedArchiver a;
  std::string pwd = "kept";
  bool skip = false;
  a.RequestPassword(u"a.txt", pwd, skip);
  EXPECT_TRUE(skip);
  EXPECT_EQ(pwd, "kept");
}

TEST(ZipArchiverHooks, ConfirmOverwriteAsksAndToAllAnswersSetTheMode) {
  AnsweringToolkit toolkit;
  InstalledToolkit installed(&toolkit);
  const struct {
    int answer;
    bool confirm;
    TZAOverwriteMode mode;
  } cases[] = {{kIdYes, true, omPrompt},
               {kIdNo, false, omPrompt},
               {kIdYesToAll, true, omAlways},
               {kIdNoToAll, false, omNever},
               {kIdCancel, false, omPrompt}};
  for (const auto& c : cases) {
    HookedArchiver a;
    a.Options().SetOverwriteMode(omPrompt);
    toolkit.answers = {c.answer};
    std::u16string dest = u"out.txt";
    bool confirm = !c.confirm;
    a.ConfirmOverwrite(u"in.txt", dest, confirm);
    EXPECT_EQ(confirm, c.confirm) << c.answer;
    EXPECT_EQ(a.Options().OverwriteMode(), c.mode) << c.answer;
  }
  ASSERT_FALSE(toolkit.boxes.empty());
  EXPECT_EQ(toolkit.boxes[0].text, "Overwrite file \"out.txt\" with \"in.txt\"");
  EXPECT_EQ(toolkit.boxes[0].buttons, (std::vector<int>{kIdYes, kIdNo, kIdYesToAll, kIdNoToAll}));
}

TEST(ZipArchiverHooks, FileFailureDefaultAnswers) {
  AnsweringToolkit toolkit;
  InstalledToolkit installed(&toolkit);
  const struct {
    int native;
    std::optional<int> answer;  // nullopt: no box expected
    TZAAction action;
    std::string text;
    std::vector<int> buttons;
  } cases[] = {
      {45, std::nullopt, fxaAbort, "", {}},
      {61, kIdIgnore, fxaIgnore, "too long", {kIdAbort, kIdIgnore}},
      {61, kIdAbort, fxaAbort, "too long", {kIdAbort, kIdIgnore}},
      {19,
       kIdRetry,
       fxaRetry,
       "too long. File processing error, possibly disk is full",
       {kIdAbort, kIdRetry, kIdIgnore}},
      {19,
       kIdIgnore,
       fxaIgnore,
       "too long. File processing error, possibly disk is full",
       {kIdAbort, kIdRetry, kIdIgnore}},
      {19,
       kIdCancel,
       fxaAbort,
       "too long. File processing error, possibly disk is full",
       {kIdAbort, kIdRetry, kIdIgnore}},
  };
  HookedArchiver a;
  for (const auto& c : cases) {
    toolkit.boxes.clear();
    if (c.answer) toolkit.answers = {*c.answer};
    TZAAction action = fxaRetry;
    a.NotifyFileFailure(u"f", poAdd, c.native, EZAException::ErrorCodeOf(c.native), u"too long",
                        action);
    EXPECT_EQ(action, c.action) << c.native;
    ASSERT_EQ(toolkit.boxes.size(), c.answer ? 1u : 0u) << c.native;
    if (c.answer) {
      EXPECT_EQ(toolkit.boxes[0].text, c.text);
      EXPECT_EQ(toolkit.boxes[0].buttons, c.buttons);
    }
  }
  // A handler starts from Ignore and decides alone.
  a.OnProcessFileFailure = [](TZABaseArchiver&, const std::u16string&, TZAProcessOperation,
                              int32_t native, int32_t code, const std::u16string&,
                              TZAAction& action) {
    EXPECT_EQ(native, 45);
    EXPECT_EQ(code, 24);
    EXPECT_EQ(action, fxaIgnore);
  };
  TZAAction action = fxaRetry;
  a.NotifyFileFailure(u"f", poAdd, 45, 24, u"m", action);
  EXPECT_EQ(action, fxaIgnore);
}

TEST(ZipArchiverHooks, VolumeRequestsWithoutHandlerAreCancelled) {
  HookedArchiver a;
  std::u16string name = u"v";
  bool cancel = false;
  a.RequestBlankVolume(2, name, cancel);
  EXPECT_TRUE(cancel);
  a.OnRequestBlankVolume = [](TZABaseArchiver&, int32_t volume, std::u16string& file, bool& c) {
    EXPECT_EQ(volume, 2);
    EXPECT_FALSE(c);
    file = u"disk2";
  };
  a.RequestBlankVolume(2, name, cancel);
  EXPECT_FALSE(cancel);
  EXPECT_EQ(name, u"disk2");
}

}  // namespace
}  // namespace lumen
