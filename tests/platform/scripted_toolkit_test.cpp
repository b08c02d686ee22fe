// The scripted toolkit has to be a trustworthy witness: it must record every call, keep the
// controls' state, answer from its script, and make any unscripted box or prompt impossible to
// miss.
#include "platform/scripted_toolkit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/exceptions.h"

namespace lumen {
namespace {

struct TFormListener : IFormEvents {
  std::vector<std::string> clicks;
  bool mayClose = true;
  int closeQueries = 0;
  std::function<void(const std::string&)> onClick;
  void OnClick(const std::string& control) override {
    clicks.push_back(control);
    if (onClick) onClick(control);
  }
  bool OnCloseQuery() override {
    ++closeQueries;
    return mayClose;
  }
};

TFormSpec SmallForm() {
  TFormSpec spec;
  spec.caption = "Form";
  spec.clientWidth = 200;
  spec.clientHeight = 100;
  const auto add = [&](std::string name, TControlKind kind, std::string caption, int tabOrder) {
    TControlSpec control;
    control.name = std::move(name);
    control.kind = kind;
    control.caption = std::move(caption);
    control.tabOrder = tabOrder;
    spec.controls.push_back(control);
  };
  add("Label1", TControlKind::Label, "waiting", -1);
  add("Button1", TControlKind::Button, "Go", 0);
  add("Bar", TControlKind::ProgressBar, "", 1);
  return spec;
}

class ScriptedToolkit : public testing::Test {
 protected:
  TScriptedToolkit toolkit;
  TFormListener listener;
  std::unique_ptr<IWindow> window = toolkit.CreateForm(SmallForm(), listener);
};

TEST_F(ScriptedToolkit, FormStartsFromItsSpec) {
  EXPECT_EQ(toolkit.FormSpec().caption, "Form");
  EXPECT_EQ(toolkit.FormSpec().controls.size(), 3u);
  EXPECT_EQ(window->Caption("Label1"), "waiting");
  EXPECT_EQ(window->Caption("Button1"), "Go");
  EXPECT_TRUE(window->Enabled("Button1"));
  EXPECT_EQ(window->ProgressPosition("Bar"), 0);
  EXPECT_EQ(window->ProgressMax("Bar"), 100);
  EXPECT_EQ(toolkit.Control("Bar").progressMin, 0);
  EXPECT_FALSE(toolkit.Closed());
  ASSERT_EQ(toolkit.Events().size(), 1u);
  EXPECT_EQ(toolkit.Events()[0].kind, TScriptEventKind::FormCreated);
}

TEST_F(ScriptedToolkit, RecordsEveryCallInOrderAndKeepsTheState) {
  toolkit.ClearEvents();
  window->SetCaption("Label1", "one");
  window->SetCaption("Label1", "one");  // a repeat is still a call the program made
  window->SetEnabled("Button1", false);
  window->SetProgressRange("Bar", 0, 524288);
  window->SetProgressPosition("Bar", 10240);
  window->ProcessMessages();
  window->Close();

  const auto& events = toolkit.Events();
  ASSERT_EQ(events.size(), 7u);
  const TScriptEventKind kinds[] = {TScriptEventKind::Caption,
                                    TScriptEventKind::Caption,
                                    TScriptEventKind::Enabled,
                                    TScriptEventKind::ProgressRange,
                                    TScriptEventKind::ProgressPosition,
                                    TScriptEventKind::ProcessMessages,
                                    TScriptEventKind::Close};
  for (size_t i = 0; i < events.size(); ++i) EXPECT_EQ(events[i].kind, kinds[i]) << i;
  EXPECT_EQ(events[2].value, 0);
  EXPECT_EQ(events[3].value2, 524288);
  EXPECT_EQ(events[4].value, 10240);
  EXPECT_EQ(events[6].value, 0);

  EXPECT_EQ(toolkit.CaptionHistory("Label1"), (std::vector<std::string>{"one", "one"}));
  const TControlState& bar = toolkit.Control("Bar");
  EXPECT_EQ(bar.progressMax, 524288);
  EXPECT_EQ(bar.progressPosition, 10240);
  EXPECT_FALSE(toolkit.Control("Button1").enabled);
  EXPECT_EQ(toolkit.ProcessMessagesCount(), 1u);
  EXPECT_TRUE(toolkit.Closed());
}

TEST_F(ScriptedToolkit, AnswersBoxesInQueueOrder) {
  toolkit.QueueBoxAnswer(kIdNo);
  toolkit.QueueBoxAnswer(kIdOk);
  EXPECT_EQ(window->MessageBox("Q?", "Info", kMbYesNo | kMbIconQuestion), kIdNo);
  EXPECT_EQ(window->MessageBox("Done", "Info", kMbOk | kMbIconInformation), kIdOk);
  EXPECT_EQ(toolkit.PendingBoxAnswers(), 0u);
  EXPECT_EQ(toolkit.Boxes(),
            (std::vector<TShownBox>{{"Q?", "Info", 0x24, kIdNo}, {"Done", "Info", 0x40, kIdOk}}));
  EXPECT_TRUE(toolkit.Violations().empty());
}

// Each of these must reach the test even through a program's catch of its own exceptions.
TEST_F(ScriptedToolkit, UnscriptedOrImpossibleCallsCannotGoUnnoticed) {
  struct Case {
    const char* name;
    std::function<void()> call;
  } cases[] = {
      {"box with no answer queued", [&] { window->MessageBox("surprise", "Info", kMbOk); }},
      {"answer the box has no button for",
       [&] {
         toolkit.QueueBoxAnswer(kIdYes);
         window->MessageBox("ok only", "Info", kMbOk | kMbIconWarning);
       }},
      {"password prompt with no answer queued",
       [&] {
         std::string password;
         toolkit.PasswordPrompt("Password", "Enter", password);
       }},
      {"unknown control", [&] { window->SetCaption("Label9", "x"); }},
      {"progress call on a label", [&] { window->SetProgressPosition("Label1", 3); }},
  };
  size_t expectedViolations = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool escaped = false;
    try {
      try {
        c.call();
      } catch (const Exception&) {
        ADD_FAILURE() << "caught as a program failure";
      }
    } catch (const EScriptViolation&) {
      escaped = true;
    }
    EXPECT_TRUE(escaped);
    EXPECT_EQ(toolkit.Violations().size(), ++expectedViolations);
  }
  // The unexpected box is still in the record, so the test can say which box it was.
  ASSERT_EQ(toolkit.Boxes().size(), 2u);
  EXPECT_EQ(toolkit.Boxes()[0].text, "surprise");
}

TEST_F(ScriptedToolkit, AnswersPasswordPromptsFromTheirQueue) {
  toolkit.QueuePasswordAnswer("secret");
  toolkit.QueuePasswordAnswer(std::nullopt);
  std::string password = "before";
  EXPECT_TRUE(toolkit.PasswordPrompt("Password", "Enter password for a.exe", password));
  EXPECT_EQ(password, "secret");
  password = "untouched";
  EXPECT_FALSE(toolkit.PasswordPrompt("Password", "Enter password for b.exe", password));
  EXPECT_EQ(password, "untouched");
  EXPECT_EQ(toolkit.Prompts(),
            (std::vector<TShownPrompt>{{"Password", "Enter password for a.exe"},
                                       {"Password", "Enter password for b.exe"}}));
}

TEST_F(ScriptedToolkit, UserActsDuringProcessMessages) {
  int runs = 0;
  toolkit.OnProcessMessages = [&] {
    ++runs;
    window->ProcessMessages();  // nested: recorded, but does not run the callback again
    toolkit.Click("Button1");
  };
  window->ProcessMessages();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(toolkit.ProcessMessagesCount(), 2u);
  EXPECT_EQ(listener.clicks, (std::vector<std::string>{"Button1"}));
}

TEST_F(ScriptedToolkit, ClicksReachOnlyEnabledButtonsOfAnOpenWindow) {
  EXPECT_FALSE(toolkit.Click("Label1"));
  EXPECT_FALSE(toolkit.Click("Nothing"));
  window->SetEnabled("Button1", false);
  EXPECT_FALSE(toolkit.Click("Button1"));
  window->SetEnabled("Button1", true);
  EXPECT_TRUE(toolkit.Click("Button1"));
  window->Close();
  EXPECT_FALSE(toolkit.Click("Button1"));
  EXPECT_EQ(listener.clicks, (std::vector<std::string>{"Button1"}));
}

TEST_F(ScriptedToolkit, UserCloseAsksTheForm) {
  listener.mayClose = false;
  EXPECT_FALSE(toolkit.UserClose());
  EXPECT_FALSE(toolkit.Closed());
  listener.mayClose = true;
  EXPECT_TRUE(toolkit.UserClose());
  EXPECT_TRUE(toolkit.Closed());
  EXPECT_EQ(listener.closeQueries, 2);
  const auto closes = toolkit.Events(TScriptEventKind::Close);
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0].value, 1);
}

}  // namespace
}  // namespace lumen
