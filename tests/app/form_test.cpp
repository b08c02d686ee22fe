// The update window driven through the scripted toolkit, with its real HTTP clients talking to
// a loopback server: layout, start-up values, the update check and its failures, the progress
// display, and closing during a command.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/unit1.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/scripted_toolkit.h"
#include "platform/stream.h"
#include "tests/support/file_watch.h"
#include "tests/support/loopback_server.h"
#include "tests/support/scratch_dir.h"

namespace lumen {
namespace {

using test::ScratchDir;
using test::TBodyMode;
using test::TFileOpenWatch;
using test::TLoopbackServer;
using test::TRefusingPort;
using test::TReply;

// The companion executable's bytes and their well-known MD5.
const std::string kExeBytes = "abc";
const std::string kExeDigest = "900150983cd24fb0d6963f7d28e17f72";
const std::string kDigestPath = "/quorvale/update.md5";

std::string A(const char* utf8) {
  return Utf8ToAnsi(utf8);
}

const TShownBox kBoxA{A("Для вашей программы обновлений нет."), A("Информация"), 0x40, kIdOk};
const TShownBox kBoxC{A("Сервис не доступен, попробуйте позже."), A("Внимание"), 0x30, kIdOk};
TShownBox BoxB(int answer) {
  return {A("Доступно новая версия программы!") + "\n" + A("Установить сейчас?"), A("Информация"),
          0x24, answer};
}

class Form1Test : public testing::Test {
 protected:
  void SetUp() override {
    test::WriteTextFile(exePath, kExeBytes);
    MakeForm(server.Host());
  }
  void TearDown() override {
    form.reset();
    EXPECT_EQ(toolkit.Violations(), std::vector<std::string>{});
    EXPECT_EQ(toolkit.PendingBoxAnswers(), 0u);
  }
  void MakeForm(const std::string& host) {
    form.reset();
    form = std::make_unique<TForm1>(toolkit, TForm1Settings{host, dir / "lumen-updater"});
  }
  // Presses the check button as the user would and returns the boxes it showed.
  std::vector<TShownBox> Check() {
    toolkit.ClearEvents();
    EXPECT_TRUE(toolkit.Click("Button1"));
    return toolkit.Boxes();
  }
  // Nothing the check did may show on the window's status line or bar.
  void ExpectStatusUntouched() {
    for (const TScriptEvent& e : toolkit.Events()) {
      EXPECT_FALSE(e.kind == TScriptEventKind::Caption) << e.control << " " << e.text;
      EXPECT_FALSE(e.kind == TScriptEventKind::ProgressRange ||
                   e.kind == TScriptEventKind::ProgressPosition);
    }
  }
  // The command disabled both buttons first and enabled them again last.
  void ExpectButtonsDisabledThroughout() {
    const auto enables = toolkit.Events(TScriptEventKind::Enabled);
    ASSERT_EQ(enables.size(), 4u);
    EXPECT_EQ(toolkit.Events().front().kind, TScriptEventKind::Enabled);
    EXPECT_EQ(toolkit.Events().back().kind, TScriptEventKind::Enabled);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(enables[i].value, i < 2 ? 0 : 1);
    EXPECT_TRUE(toolkit.Control("Button1").enabled);
    EXPECT_TRUE(toolkit.Control("Button2").enabled);
  }

  ScratchDir dir;
  std::string exePath = dir / "Lumen_Courier.exe";
  TScriptedToolkit toolkit;
  TLoopbackServer server;
  std::unique_ptr<TForm1> form;
};

TEST_F(Form1Test, BuildsTheWindowAsDesigned) {
  const TFormSpec& spec = toolkit.FormSpec();
  EXPECT_EQ(spec.caption, A("Модуль обновления"));
  EXPECT_EQ(spec.clientWidth, 369);
  EXPECT_EQ(spec.clientHeight, 119);
  struct Row {
    const char* name;
    TControlKind kind;
    int left, top, width, height;
    std::string caption;
    int tabOrder;
    bool autoSize;
  } rows[] = {
      {"Label1", TControlKind::Label, 8, 8, 52, 13, A("Источник:"), -1, true},
      {"Label2", TControlKind::Label, 64, 8, 297, 13, "", -1, false},
      {"Label3", TControlKind::Label, 8, 69, 59, 13, A("Загружено:"), -1, true},
      {"Label4", TControlKind::Label, 72, 69, 65, 13, A("Ожидание..."), -1, true},
      {"Button1", TControlKind::Button, 8, 32, 209, 25, A("Проверить наличие обновлений"), 0,
       false},
      {"Button2", TControlKind::Button, 224, 32, 137, 25, A("Обновить"), 1, false},
      {"ProgressBar1", TControlKind::ProgressBar, 8, 88, 353, 23, "", 2, false},
  };
  ASSERT_EQ(spec.controls.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    const TControlSpec& c = spec.controls[i];
    const Row& r = rows[i];
    SCOPED_TRACE(r.name);
    EXPECT_EQ(c.name, r.name);
    EXPECT_EQ(c.kind, r.kind);
    EXPECT_EQ((std::vector<int>{c.left, c.top, c.width, c.height}),
              (std::vector<int>{r.left, r.top, r.width, r.height}));
    EXPECT_EQ(c.caption, r.caption);
    EXPECT_EQ(c.tabOrder, r.tabOrder);
    EXPECT_EQ(c.autoSize, r.autoSize);
  }

  // What FormCreate leaves: the archive address shown, nothing downloaded yet.
  const std::string archiveUrl = "http://" + server.Host() + "/quorvale/Lumen_Courier.zip";
  EXPECT_EQ(toolkit.Control("Label2").caption, archiveUrl);
  EXPECT_EQ(form->ArchiveUrl(), archiveUrl);
  EXPECT_EQ(form->DigestUrl(), "http://" + server.Host() + kDigestPath);
  EXPECT_EQ(toolkit.Control("Label4").caption, A("Ожидание..."));
  const TControlState& bar = toolkit.Control("ProgressBar1");
  EXPECT_EQ((std::vector<int32_t>{bar.progressMin, bar.progressMax, bar.progressPosition}),
            (std::vector<int32_t>{0, 100, 0}));
  EXPECT_EQ(form->TargetExePath(), exePath);
  EXPECT_EQ(form->ArchiveEntryName(), "Lumen_Courier.exe");
  EXPECT_EQ(form->DownloadTotal(), 0);
  EXPECT_EQ(form->Name(), "Form1");
  EXPECT_EQ(form->HttpClient1.Name(), "HttpClient1");
  EXPECT_EQ(form->HttpClient2.Name(), "HttpClient2");
  EXPECT_EQ(form->ZipArchiver1.Name(), "ZipArchiver1");
}

TEST_F(Form1Test, CompanionPathIsBesideTheUpdater) {
  struct Case {
    std::string own, target;
  } cases[] = {
      {"C:\\Tools\\updater.exe", "C:\\Tools\\Lumen_Courier.exe"},
      {"D:\\updater.exe", "D:\\Lumen_Courier.exe"},
      {"/opt/lumen/lumen-updater", "/opt/lumen/Lumen_Courier.exe"},
  };
  for (const Case& c : cases) {
    TForm1 other(toolkit, {server.Host(), c.own});
    EXPECT_EQ(other.TargetExePath(), c.target) << c.own;
  }
}

TEST_F(Form1Test, DefaultsComeFromTheBuildAndTheRunningProgram) {
  TForm1 other(toolkit);
  EXPECT_EQ(other.UpdateServerHost(), LUMEN_UPDATE_HOST);
  EXPECT_EQ(other.DigestUrl(), std::string("http://") + LUMEN_UPDATE_HOST + kDigestPath);
  EXPECT_EQ(other.TargetExePath(), ExtractFilePath(OwnExecutablePath()) + "Lumen_Courier.exe");
}

TEST_F(Form1Test, EqualDigestsSayThereIsNoUpdate) {
  server.ServeText(kDigestPath, kExeDigest);
  toolkit.QueueBoxAnswer(kIdOk);
  EXPECT_EQ(Check(), std::vector<TShownBox>{kBoxA});
  ExpectButtonsDisabledThroughout();
  ExpectStatusUntouched();

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, kDigestPath);
  EXPECT_EQ(requests[0].Header("Accept"), "text/html, */*");
  EXPECT_EQ(requests[0].Header("User-Agent"), "Mozilla/3.0 (compatible; Lumen Courier Updater)");
}

TEST_F(Form1Test, DifferentDigestsOfferTheUpdateAndNoChangesNothing) {
  const std::string upper = "900150983CD24FB0D6963F7D28E17F72";
  const std::string cases[] = {
      "d41d8cd98f00b204e9800998ecf8427e",  // another release
      kExeDigest + "\n",                   // saved with a trailing newline
      kExeDigest + "\r\n",
      " " + kExeDigest,
      upper,
      "",                        // empty body
      kExeDigest.substr(0, 31),  // one digit short
  };
  for (const std::string& remote : cases) {
    SCOPED_TRACE("remote digest \"" + remote + "\"");
    server.ServeText(kDigestPath, remote);
    const auto before = toolkit.Controls();
    toolkit.QueueBoxAnswer(kIdNo);
    EXPECT_EQ(Check(), std::vector<TShownBox>{BoxB(kIdNo)});
    EXPECT_EQ(toolkit.Controls(), before);
    ExpectStatusUntouched();
    ExpectButtonsDisabledThroughout();
  }
  EXPECT_EQ(form->DownloadTotal(), 0);
}

TEST_F(Form1Test, EveryFailureGivesOneWarning) {
  struct Case {
    const char* name;
    TReply reply;
    bool serverUp;
    bool exeExists;
  } cases[] = {
      {"not found", {.status = 404, .body = "missing"}, true, true},
      {"redirect", {.status = 302, .headers = {{"Location", "/moved/update.md5"}}}, true, true},
      {"server error", {.status = 500}, true, true},
      {"closed mid-body",
       {.body = kExeDigest.substr(0, 10), .mode = TBodyMode::Close, .announcedLength = 32},
       true,
       true},
      {"refused connection", {}, false, true},
      {"refused connection, no local file", {}, false, false},
      {"local file missing", {.body = kExeDigest}, true, false},
  };
  TRefusingPort refusing;
  server.ServeText("/moved/update.md5", kExeDigest);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeForm(c.serverUp ? server.Host() : refusing.Host());
    server.Serve(kDigestPath, c.reply);
    if (c.exeExists) {
      test::WriteTextFile(exePath, kExeBytes);
    } else {
      std::remove(exePath.c_str());
    }
    toolkit.QueueBoxAnswer(kIdOk);
    EXPECT_EQ(Check(), std::vector<TShownBox>{kBoxC});
    ExpectButtonsDisabledThroughout();
    ExpectStatusUntouched();
  }
  // A redirect is reported, never followed.
  EXPECT_EQ(server.RequestCount("/moved/update.md5"), 0u);
}

TEST_F(Form1Test, LocalFileIsReadOnlyAfterTheServerAnswered) {
  TRefusingPort refusing;
  struct Case {
    const char* name;
    bool serverUp;
    TShownBox box;
    bool read;
  } cases[] = {{"server down", false, kBoxC, false}, {"server up", true, kBoxA, true}};
  server.ServeText(kDigestPath, kExeDigest);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeForm(c.serverUp ? server.Host() : refusing.Host());
    TFileOpenWatch watch(exePath);
    toolkit.QueueBoxAnswer(kIdOk);
    EXPECT_EQ(Check(), std::vector<TShownBox>{c.box});
    EXPECT_EQ(watch.Opened(), c.read);
  }
}

TEST_F(Form1Test, ProgressHandlersMoveTheBarAndTheByteCount) {
  struct Step {
    const char* call;  // "begin", "work", "end"
    int32_t value;
    std::string label4;
    int32_t max, position, total;
  } steps[] = {
      {"begin", 524288, A("Ожидание..."), 524288, 0, 524288},
      {"work", 10240, A("10240 байт из 524288 байт"), 524288, 10240, 524288},
      {"work", 524288, A("524288 байт из 524288 байт"), 524288, 524288, 524288},
      {"end", 0, A("Готово."), 524288, 0, 524288},
      // The next download's first progress still counts against the last announced total.
      {"work", 4096, A("4096 байт из 524288 байт"), 524288, 4096, 524288},
      {"begin", 0, A("4096 байт из 524288 байт"), 0, 0, 0},
      {"work", 5120, A("5120 байт из 0 байт"), 0, 5120, 0},
      {"work", -1, A("-1 байт из 0 байт"), 0, -1, 0},
      {"end", 0, A("Готово."), 0, 0, 0},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.call) + " " + std::to_string(s.value));
    toolkit.ClearEvents();
    const std::string call = s.call;
    if (call == "begin") form->HttpClient1WorkBegin(&form->HttpClient1, TWorkMode::wmRead, s.value);
    if (call == "work") form->HttpClient1Work(&form->HttpClient1, TWorkMode::wmRead, s.value);
    if (call == "end") form->HttpClient1WorkEnd(&form->HttpClient1, TWorkMode::wmRead);
    const TControlState& bar = toolkit.Control("ProgressBar1");
    EXPECT_EQ(toolkit.Control("Label4").caption, s.label4);
    EXPECT_EQ(bar.progressMin, 0);
    EXPECT_EQ(bar.progressMax, s.max);
    EXPECT_EQ(bar.progressPosition, s.position);
    EXPECT_EQ(form->DownloadTotal(), s.total);
    // Each handler lets the window breathe once, after it has updated it.
    EXPECT_EQ(toolkit.ProcessMessagesCount(), 1u);
    EXPECT_EQ(toolkit.Events().back().kind, TScriptEventKind::ProcessMessages);
  }
}

TEST_F(Form1Test, DownloadsThroughTheFirstClientDriveTheDisplay) {
  std::string body(524288, 'z');
  struct Case {
    const char* name;
    TReply reply;
    bool fails;
    std::string lastCount;
  } cases[] = {
      {"complete", {.body = body}, false, A("524288 байт из 524288 байт")},
      {"no length announced",
       {.body = body, .mode = TBodyMode::Chunked},
       false,
       A("524288 байт из 0 байт")},
      {"breaks off",
       {.body = body.substr(0, 10240), .mode = TBodyMode::Close, .announcedLength = 524288},
       true,
       A("10240 байт из 524288 байт")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.Serve("/quorvale/Lumen_Courier.zip", c.reply);
    toolkit.ClearEvents();
    TMemoryStream stream;
    if (c.fails) {
      EXPECT_THROW(form->HttpClient1.Get(form->ArchiveUrl(), stream), EHttpError);
    } else {
      form->HttpClient1.Get(form->ArchiveUrl(), stream);
    }
    const auto history = toolkit.CaptionHistory("Label4");
    ASSERT_GE(history.size(), 2u);
    EXPECT_EQ(history[history.size() - 2], c.lastCount);
    EXPECT_EQ(history.back(), A("Готово."));
    EXPECT_EQ(toolkit.Control("ProgressBar1").progressPosition, 0);
    EXPECT_GE(toolkit.ProcessMessagesCount(), 3u);
  }
}

TEST_F(Form1Test, ButtonsCannotBePressedWhileTheCheckRuns) {
  server.ServeText(kDigestPath, kExeDigest);
  std::vector<bool> delivered;
  form->HttpClient2.OnWork = [&](TComponent*, TWorkMode, int32_t) {
    delivered.push_back(toolkit.Click("Button1"));
    delivered.push_back(toolkit.Click("Button2"));
  };
  toolkit.QueueBoxAnswer(kIdOk);
  EXPECT_EQ(Check(), std::vector<TShownBox>{kBoxA});
  EXPECT_EQ(delivered, (std::vector<bool>{false, false}));
}

TEST_F(Form1Test, ClosingDuringATransferAbortsItAndClosesWithoutAWarning) {
  // Without the abort this reply would hold the transfer until the server shuts down.
  server.Serve(kDigestPath, {.body = "9001", .mode = TBodyMode::Stall, .announcedLength = 32});
  std::vector<bool> closedAtOnce;
  form->HttpClient2.OnWork = [&](TComponent*, TWorkMode, int32_t) {
    closedAtOnce.push_back(toolkit.UserClose());
  };
  EXPECT_EQ(Check(), std::vector<TShownBox>{});
  EXPECT_EQ(closedAtOnce, std::vector<bool>{false});
  EXPECT_TRUE(toolkit.Closed());
  EXPECT_FALSE(form->CommandRunning());
  EXPECT_FALSE(form->HttpClient2.Busy());
}

TEST_F(Form1Test, ClosingWhenIdleIsAllowed) {
  EXPECT_TRUE(toolkit.UserClose());
  EXPECT_TRUE(toolkit.Closed());
}

}  // namespace
}  // namespace lumen
