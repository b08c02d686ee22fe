// TScriptedToolkit: a toolkit without a screen, for tests. It builds forms as plain state,
// records everything the program does to them in order, and answers message boxes and password
// prompts from queues that the test fills beforehand.
//
// Contract:
// - A box or a prompt with an empty answer queue, an answer that the box has no button for, or
//   a call naming a control the form does not have raises EScriptViolation. It derives from
//   std::logic_error, not from the program's Exception, and the toolkit also remembers it
//   (Violations()), so a catch-all in the program cannot hide it from the test.
// - A window may outlive the toolkit that made it (both share one record), but only the toolkit
//   can show the record and run OnProcessMessages. The form's events object must outlive its
//   window, as with every backend.
// - The record covers every call, also calls that set a value the control already has.
// - Single-threaded, like the program it drives.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/toolkit.h"

namespace lumen {

class EScriptViolation : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

enum class TScriptEventKind {
  FormCreated,       // text: the form's caption
  Caption,           // control, text
  Enabled,           // control, value (0 or 1)
  ProgressRange,     // control, value (minimum), value2 (maximum)
  ProgressPosition,  // control, value
  MessageBox,        // text, caption, flags, value (the answer given)
  ProcessMessages,
  Close,           // value: 1 when the user closed it, 0 when the program did
  PasswordPrompt,  // text: the label, caption, value (1 answered, 0 cancelled)
  Run,
};

struct TScriptEvent {
  TScriptEventKind kind = TScriptEventKind::Run;
  std::string control{};
  std::string text{};     // ANSI, as the program passed it
  std::string caption{};  // ANSI
  uint32_t flags = 0;
  int64_t value = 0;
  int64_t value2 = 0;
};

// A message box as the program showed it.
struct TShownBox {
  std::string text;
  std::string caption;
  uint32_t flags = 0;
  int answer = 0;
  bool operator==(const TShownBox&) const = default;
};

struct TShownPrompt {
  std::string caption;
  std::string label;
  bool operator==(const TShownPrompt&) const = default;
};

// What a control shows now.
struct TControlState {
  TControlKind kind = TControlKind::Label;
  std::string caption;
  bool enabled = true;
  int32_t progressMin = 0;
  int32_t progressMax = 100;
  int32_t progressPosition = 0;
  bool operator==(const TControlState&) const = default;
};

class TScriptedToolkit : public IToolkit {
 public:
  TScriptedToolkit();
  ~TScriptedToolkit() override;

  // IToolkit
  std::unique_ptr<IWindow> CreateForm(const TFormSpec& spec, IFormEvents& events) override;
  void Run() override;
  bool PasswordPrompt(const std::string& caption, const std::string& label,
                      std::string& password) override;

  // Script: answers in the order the program will need them.
  void QueueBoxAnswer(int answer);
  void QueuePasswordAnswer(std::optional<std::string> password);  // nullopt: Cancel
  size_t PendingBoxAnswers() const;
  size_t PendingPasswordAnswers() const;
  // Runs at every ProcessMessages of any window, after it is recorded: a test's way to act while
  // the program is busy (press a button, close the window). Empty to stop.
  std::function<void()> OnProcessMessages;

  // Acting as the user on the last form created. A click on a disabled or unknown control is
  // not delivered (returns false), as a real screen would swallow it. UserClose asks the form
  // and closes the window when it agrees; returns whether it closed.
  bool Click(const std::string& control);
  bool UserClose();

  // History and state.
  const std::vector<TScriptEvent>& Events() const;
  std::vector<TScriptEvent> Events(TScriptEventKind kind) const;
  std::vector<TShownBox> Boxes() const;
  std::vector<TShownPrompt> Prompts() const;
  std::vector<std::string> CaptionHistory(const std::string& control) const;
  size_t ProcessMessagesCount() const;
  void ClearEvents();

  // The last form created: its spec as handed over, its controls now, and whether it closed.
  const TFormSpec& FormSpec() const;
  const TControlState& Control(const std::string& name) const;
  std::map<std::string, TControlState> Controls() const;
  bool Closed() const;

  const std::vector<std::string>& Violations() const;

 private:
  struct TState;
  class TWindow;
  std::shared_ptr<TState> state_;
};

}  // namespace lumen
