// The wxWidgets backend on a virtual screen: the form it builds, the events it delivers, its
// message boxes and password prompt, each driven from a second thread as a person would.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <ostream>
#include <thread>

#include "platform/codepage.h"
#include "platform/wx/wx_toolkit.h"
#include "tests/support/xvfb.h"
#include "x_session.h"

namespace lumen {
namespace {

using namespace std::chrono_literals;
using gui::XClient;

std::string Ansi(const char* utf8) {
  return Utf8ToAnsi(utf8);
}

// The updater's window as the window logic describes it.
TFormSpec UpdaterForm() {
  return {Ansi("Модуль обновления"),
          369,
          119,
          {{"Label1", TControlKind::Label, 8, 8, 52, 13, Ansi("Источник:"), -1, true},
           {"Label2", TControlKind::Label, 64, 8, 297, 13, "", -1, false},
           {"Button1", TControlKind::Button, 8, 32, 209, 25, Ansi("Проверить наличие обновлений"),
            0, false},
           {"Button2", TControlKind::Button, 224, 32, 137, 25, Ansi("Обновить"), 1, false},
           {"ProgressBar1", TControlKind::ProgressBar, 8, 88, 353, 23, "", 2, false},
           {"Label3", TControlKind::Label, 8, 69, 59, 13, Ansi("Загружено:"), -1, true},
           {"Label4", TControlKind::Label, 72, 69, 65, 13, Ansi("Ожидание..."), -1, true}}};
}

class Recorder : public IFormEvents {
 public:
  std::function<void(const std::string&)> onClick;
  std::function<bool()> onCloseQuery = [] { return true; };

  void OnClick(const std::string& control) override {
    {
      std::lock_guard lock(mutex_);
      clicks_.push_back(control);
    }
    if (onClick) onClick(control);
  }
  bool OnCloseQuery() override {
    ++closeQueries;
    return onCloseQuery();
  }
  std::vector<std::string> Clicks() {
    std::lock_guard lock(mutex_);
    return clicks_;
  }
  std::atomic<int> closeQueries{0};

 private:
  std::mutex mutex_;
  std::vector<std::string> clicks_;
};

// Polls until the condition holds; throws at the deadline so the driver reports it.
void WaitUntil(const std::function<bool()>& condition, const char* what) {
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline)
      throw std::runtime_error(std::string("timed out waiting for ") + what);
    std::this_thread::sleep_for(20ms);
  }
}

// One virtual screen and one toolkit for the whole process: wxWidgets starts only once.
class GuiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!gui::ProgramAvailable("Xvfb")) return;
    display = std::make_unique<test::ScopedXvfb>();
    toolkit = CreateWxToolkit();
    SetCurrentToolkit(toolkit.get());
  }
  void TearDown() override {
    SetCurrentToolkit(nullptr);
    toolkit.reset();
    display.reset();
  }
  static inline std::unique_ptr<test::ScopedXvfb> display;
  static inline std::unique_ptr<IToolkit> toolkit;
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

class WxBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!GuiEnvironment::toolkit) GTEST_SKIP() << "Xvfb is not installed";
    toolkit_ = GuiEnvironment::toolkit.get();
  }

  // Runs `ui` on this thread while `driver` acts on the screen from another one. A driver that
  // fails closes whatever it can, so the UI side returns and the failure is reported.
  void Drive(const std::function<void()>& ui, const std::function<void(XClient&)>& driver) {
    std::string failure;
    std::thread thread([&] {
      XClient x(Display());
      try {
        driver(x);
      } catch (const std::exception& e) {
        failure = e.what();
        for (const std::string& title : x.Titles())
          if (auto w = x.Find(title)) x.RequestClose(*w);
      }
    });
    ui();
    thread.join();
    if (!failure.empty()) FAIL() << failure;
  }

  const std::string& Display() const { return GuiEnvironment::display->DisplayName(); }

  IToolkit* toolkit_ = nullptr;
};

TEST_F(WxBackendTest, BuildsTheFormAtItsSizeWithItsTitleAndClosesOnRequest) {
  Recorder events;
  TFormSpec spec = UpdaterForm();
  auto window = toolkit_->CreateForm(spec, events);
  const std::string address = "http://127.0.0.1:8470/quorvale/Lumen_Courier.zip";
  window->SetCaption("Label2", address);
  Drive([&] { toolkit_->Run(); },
        [&](XClient& x) {
          const unsigned long w = x.WaitFor("Модуль обновления");
          const gui::Rect r = x.Geometry(w);
          EXPECT_EQ(r.width, 369);
          EXPECT_EQ(r.height, 119);
          EXPECT_EQ(x.IconSizes(w), (std::vector<std::pair<int, int>>{{16, 16}}));
          const gui::Rect screen = x.Screen();
          EXPECT_NEAR(r.x, (screen.width - 369) / 2, 2) << "not centred";
          EXPECT_NEAR(r.y, (screen.height - 119) / 2, 2) << "not centred";
          x.RequestClose(w);
        });
  EXPECT_EQ(events.closeQueries, 1);
  // Captions come back byte for byte in the code page they were given in.
  EXPECT_EQ(window->Caption("Label4"), Ansi("Ожидание..."));
  EXPECT_EQ(window->Caption("Label2"), address);
  EXPECT_THROW(window->Caption("Label9"), std::exception);
}

TEST_F(WxBackendTest, KeyboardFollowsTabOrderAndClicksNameTheirButton) {
  Recorder events;
  // Created in the opposite order of their tab order, so only the tab order can be followed.
  TFormSpec spec{"Tab order", 369, 119, {}};
  spec.controls.push_back({"Button2", TControlKind::Button, 224, 32, 137, 25, "Two", 1, false});
  spec.controls.push_back({"Button1", TControlKind::Button, 8, 32, 209, 25, "One", 0, false});
  auto window = toolkit_->CreateForm(spec, events);
  Drive([&] { toolkit_->Run(); },
        [&](XClient& x) {
          const unsigned long w = x.WaitFor("Tab order");
          gui::PressKeys(Display(), w, {"space"});
          WaitUntil([&] { return events.Clicks().size() == 1; }, "the first key press");
          gui::PressKeys(Display(), w, {"Tab", "space"});
          WaitUntil([&] { return events.Clicks().size() == 2; }, "the second key press");
          gui::ClickAt(Display(), x, w, 224 + 68, 32 + 12);
          WaitUntil([&] { return events.Clicks().size() == 3; }, "the click");
          gui::ClickAt(Display(), x, w, 8 + 100, 32 + 12);
          WaitUntil([&] { return events.Clicks().size() == 4; }, "the second click");
          x.RequestClose(w);
        });
  EXPECT_EQ(events.Clicks(),
            (std::vector<std::string>{"Button1", "Button2", "Button2", "Button1"}));
}

TEST_F(WxBackendTest, CloseQueryCanRefuseAndADisabledButtonIgnoresClicks) {
  Recorder events;
  bool allowClose = false;
  events.onCloseQuery = [&] { return allowClose; };
  auto window = toolkit_->CreateForm(UpdaterForm(), events);
  window->SetEnabled("Button2", false);
  EXPECT_FALSE(window->Enabled("Button2"));
  EXPECT_TRUE(window->Enabled("Button1"));
  Drive([&] { toolkit_->Run(); },
        [&](XClient& x) {
          const unsigned long w = x.WaitFor("Модуль обновления");
          x.RequestClose(w);
          WaitUntil([&] { return events.closeQueries == 1; }, "the close query");
          gui::ClickAt(Display(), x, w, 224 + 68, 32 + 12);  // disabled
          gui::ClickAt(Display(), x, w, 8 + 100, 32 + 12);
          WaitUntil([&] { return !events.Clicks().empty(); }, "the click");
          EXPECT_TRUE(x.Find("Модуль обновления")) << "the refused close closed the window";
          allowClose = true;
          x.RequestClose(w);
        });
  EXPECT_EQ(events.closeQueries, 2);
  EXPECT_EQ(events.Clicks(), std::vector<std::string>{"Button1"});
}

TEST_F(WxBackendTest, ClosingWhileAHandlerProcessesMessagesEndsTheLoopAfterIt) {
  Recorder events;
  std::atomic<bool> closing = false;
  bool handlerFinished = false;
  std::unique_ptr<IWindow> window;
  events.onCloseQuery = [&] {
    closing = true;
    return true;
  };
  events.onClick = [&](const std::string&) {
    // A download keeps the window alive this way; the window may close meanwhile.
    while (!closing) window->ProcessMessages();
    window->SetProgressPosition("ProgressBar1", 50);  // the window must still be usable
    window->ProcessMessages();
    handlerFinished = true;
  };
  window = toolkit_->CreateForm(UpdaterForm(), events);
  Drive([&] { toolkit_->Run(); },
        [&](XClient& x) {
          const unsigned long w = x.WaitFor("Модуль обновления");
          gui::ClickAt(Display(), x, w, 8 + 100, 32 + 12);
          WaitUntil([&] { return events.Clicks().size() == 1; }, "the click");
          x.RequestClose(w);
          EXPECT_TRUE(x.WaitGone("Модуль обновления"));
        });
  EXPECT_TRUE(handlerFinished);
}

struct BoxCase {
  const char* name;
  const char* caption;
  uint32_t flags;
  const char* key;
  int expected;
};

void PrintTo(const BoxCase& c, std::ostream* os) {
  *os << c.name;
}

class WxMessageBoxTest : public WxBackendTest, public ::testing::WithParamInterface<BoxCase> {};

TEST_P(WxMessageBoxTest, AnswersWithThePressedButton) {
  const BoxCase& c = GetParam();
  Recorder events;
  auto window = toolkit_->CreateForm(UpdaterForm(), events);
  int answer = -1;
  Drive([&] { answer = window->MessageBox(Ansi("Текст"), Ansi(c.caption), c.flags); },
        [&](XClient& x) { gui::PressKeys(Display(), x.WaitFor(c.caption), {c.key}); });
  EXPECT_EQ(answer, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, WxMessageBoxTest,
    ::testing::Values(
        BoxCase{"InformationEnter", "Информация", kMbOk | kMbIconInformation, "Return", kIdOk},
        BoxCase{"WarningEnter", "Внимание", kMbOk | kMbIconWarning, "Return", kIdOk},
        BoxCase{"WarningEscape", "Внимание", kMbOk | kMbIconWarning, "Escape", kIdOk},
        // Yes is the first button and so the default one.
        BoxCase{"QuestionEnter", "Подтверждение", kMbYesNo | kMbIconQuestion, "Return", kIdYes},
        BoxCase{"QuestionEscape", "Подтверждение", kMbYesNo | kMbIconQuestion, "Escape", kIdNo}),
    [](const auto& info) { return std::string(info.param.name); });

// Typed in ASCII only: xdotool types other characters by remapping a key for each one, and a
// busy program may read the key after the mapping has been taken back.
struct PromptCase {
  const char* name;
  std::string typed;
  const char* key;
  bool accepted;
  std::string expected;  // the password left by the prompt
};

void PrintTo(const PromptCase& c, std::ostream* os) {
  *os << c.name;
}

class WxPasswordPromptTest : public WxBackendTest,
                             public ::testing::WithParamInterface<PromptCase> {};

TEST_P(WxPasswordPromptTest, HandsBackTheTypedTextOrNothing) {
  const PromptCase& c = GetParam();
  std::string password = "kept";
  bool accepted = false;
  Drive(
      [&] {
        accepted = toolkit_->PasswordPrompt("Password for \"a.exe\"", "Enter password: ", password);
      },
      [&](XClient& x) {
        const unsigned long w = x.WaitFor("Password for \"a.exe\"");
        gui::Xdotool(Display(), {"windowfocus", std::to_string(w)});
        gui::Xdotool(Display(), {"type", "--delay", "2", c.typed});
        gui::PressKeys(Display(), w, {c.key});
      });
  EXPECT_EQ(accepted, c.accepted);
  EXPECT_EQ(password, Utf8ToAnsi(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Prompts, WxPasswordPromptTest,
                         ::testing::Values(PromptCase{"Latin", "s3cret", "Return", true, "s3cret"},
                                           PromptCase{"Cancelled", "s3cret", "Escape", false,
                                                      "kept"},
                                           // Longer than the field takes.
                                           PromptCase{"TooLong", std::string(300, 'a'), "Return",
                                                      true, std::string(255, 'a')}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ProgressCase {
  int32_t min, max, position, expected;
};

TEST_F(WxBackendTest, ProgressPositionStaysInsideTheRange) {
  Recorder events;
  auto window = toolkit_->CreateForm(UpdaterForm(), events);
  EXPECT_EQ(window->ProgressMax("ProgressBar1"), 100);
  const ProgressCase cases[] = {
      {0, 100, 50, 50},          {0, 100, 150, 100},
      {0, 100, -5, 0},           {0, 0, 5120, 0},  // a download of unknown length
      {0, 524288, 10240, 10240}, {0, 2147483647, 2147483647, 2147483647}};
  for (const ProgressCase& c : cases) {
    window->SetProgressRange("ProgressBar1", c.min, c.max);
    window->SetProgressPosition("ProgressBar1", c.position);
    EXPECT_EQ(window->ProgressPosition("ProgressBar1"), c.expected) << c.max << " " << c.position;
    EXPECT_EQ(window->ProgressMax("ProgressBar1"), c.max);
  }
  window->SetProgressRange("ProgressBar1", 0, 1000);
  window->SetProgressPosition("ProgressBar1", 900);
  window->SetProgressRange("ProgressBar1", 0, 100);
  EXPECT_EQ(window->ProgressPosition("ProgressBar1"), 100);
}

}  // namespace
}  // namespace lumen
