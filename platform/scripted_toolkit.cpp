// The scripted toolkit: forms as plain state plus an ordered record of every call, so tests can
// assert both on what the window shows now and on how it got there.
#include "platform/scripted_toolkit.h"

#include <algorithm>

namespace lumen {

struct TScriptedToolkit::TState {
  TScriptedToolkit* toolkit = nullptr;  // null once the toolkit is gone
  std::vector<TScriptEvent> events;
  std::deque<int> boxAnswers;
  std::deque<std::optional<std::string>> passwordAnswers;
  std::vector<std::string> violations;
  bool hasForm = false;
  TFormSpec spec;
  std::map<std::string, TControlState> controls;
  IFormEvents* formEvents = nullptr;
  bool closed = false;
  bool inProcessMessages = false;

  [[noreturn]] void Violation(const std::string& what) {
    violations.push_back(what);
    throw EScriptViolation(what);
  }

  TControlState& ControlNamed(const std::string& name) {
    const auto it = controls.find(name);
    if (it == controls.end()) Violation("no control named \"" + name + "\" on the form");
    return it->second;
  }

  TControlState& ProgressNamed(const std::string& name) {
    TControlState& control = ControlNamed(name);
    if (control.kind != TControlKind::ProgressBar) Violation("\"" + name + "\" is no progress bar");
    return control;
  }

  void Record(TScriptEvent event) { events.push_back(std::move(event)); }
};

namespace {

// The answers a box can give, by its button flags; other button sets are not checked.
bool AnswerFits(uint32_t flags, int answer) {
  switch (flags & 0x0F) {
    case kMbOk:
      return answer == kIdOk;
    case kMbYesNo:
      return answer == kIdYes || answer == kIdNo;
    default:
      return true;
  }
}

}  // namespace

class TScriptedToolkit::TWindow : public IWindow {
 public:
  explicit TWindow(std::shared_ptr<TState> state) : state_(std::move(state)) {}

  void SetCaption(const std::string& control, const std::string& text) override {
    state_->ControlNamed(control).caption = text;
    state_->Record({.kind = TScriptEventKind::Caption, .control = control, .text = text});
  }
  std::string Caption(const std::string& control) const override {
    return state_->ControlNamed(control).caption;
  }
  void SetEnabled(const std::string& control, bool enabled) override {
    state_->ControlNamed(control).enabled = enabled;
    state_->Record({.kind = TScriptEventKind::Enabled, .control = control, .value = enabled});
  }
  bool Enabled(const std::string& control) const override {
    return state_->ControlNamed(control).enabled;
  }
  void SetProgressRange(const std::string& control, int32_t min, int32_t max) override {
    TControlState& bar = state_->ProgressNamed(control);
    bar.progressMin = min;
    bar.progressMax = max;
    state_->Record(
        {.kind = TScriptEventKind::ProgressRange, .control = control, .value = min, .value2 = max});
  }
  void SetProgressPosition(const std::string& control, int32_t position) override {
    state_->ProgressNamed(control).progressPosition = position;
    state_->Record(
        {.kind = TScriptEventKind::ProgressPosition, .control = control, .value = position});
  }
  int32_t ProgressPosition(const std::string& control) const override {
    return state_->ProgressNamed(control).progressPosition;
  }
  int32_t ProgressMax(const std::string& control) const override {
    return state_->ProgressNamed(control).progressMax;
  }

  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override {
    TScriptEvent event{
        .kind = TScriptEventKind::MessageBox, .text = text, .caption = caption, .flags = flags};
    if (state_->boxAnswers.empty()) {
      state_->Record(event);
      state_->Violation("unexpected message box \"" + text + "\" (no answer queued)");
    }
    const int answer = state_->boxAnswers.front();
    state_->boxAnswers.pop_front();
    event.value = answer;
    state_->Record(event);
    if (!AnswerFits(flags, answer)) {
      state_->Violation("queued answer " + std::to_string(answer) + " fits no button of box \"" +
                        text + "\"");
    }
    return answer;
  }

  void ProcessMessages() override {
    state_->Record({.kind = TScriptEventKind::ProcessMessages});
    // Like a real toolkit's yield, a nested call does not run the pending work again.
    if (state_->inProcessMessages || state_->toolkit == nullptr) return;
    const auto& callback = state_->toolkit->OnProcessMessages;
    if (!callback) return;
    state_->inProcessMessages = true;
    struct TReset {
      bool& flag;
      ~TReset() { flag = false; }
    } reset{state_->inProcessMessages};
    // A copy, so the callback may replace or clear itself.
    const std::function<void()> run = callback;
    run();
  }

  void Close() override {
    state_->closed = true;
    state_->Record({.kind = TScriptEventKind::Close, .value = 0});
  }

 private:
  std::shared_ptr<TState> state_;
};

TScriptedToolkit::TScriptedToolkit() : state_(std::make_shared<TState>()) {
  state_->toolkit = this;
}

TScriptedToolkit::~TScriptedToolkit() {
  state_->toolkit = nullptr;
}

std::unique_ptr<IWindow> TScriptedToolkit::CreateForm(const TFormSpec& spec, IFormEvents& events) {
  std::map<std::string, TControlState> controls;
  for (const TControlSpec& control : spec.controls) {
    TControlState state;
    state.kind = control.kind;
    state.caption = control.caption;
    if (!controls.emplace(control.name, state).second) {
      state_->Violation("control \"" + control.name + "\" declared twice");
    }
  }
  state_->hasForm = true;
  state_->spec = spec;
  state_->controls = std::move(controls);
  state_->formEvents = &events;
  state_->closed = false;
  state_->Record({.kind = TScriptEventKind::FormCreated, .text = spec.caption});
  return std::make_unique<TWindow>(state_);
}

void TScriptedToolkit::Run() {
  state_->Record({.kind = TScriptEventKind::Run});
}

bool TScriptedToolkit::PasswordPrompt(const std::string& caption, const std::string& label,
                                      std::string& password) {
  TScriptEvent event{.kind = TScriptEventKind::PasswordPrompt, .text = label, .caption = caption};
  if (state_->passwordAnswers.empty()) {
    state_->Record(event);
    state_->Violation("unexpected password prompt \"" + label + "\" (no answer queued)");
  }
  std::optional<std::string> answer = std::move(state_->passwordAnswers.front());
  state_->passwordAnswers.pop_front();
  event.value = answer.has_value();
  state_->Record(event);
  if (!answer) return false;
  password = std::move(*answer);
  return true;
}

void TScriptedToolkit::QueueBoxAnswer(int answer) {
  state_->boxAnswers.push_back(answer);
}

void TScriptedToolkit::QueuePasswordAnswer(std::optional<std::string> password) {
  state_->passwordAnswers.push_back(std::move(password));
}

size_t TScriptedToolkit::PendingBoxAnswers() const {
  return state_->boxAnswers.size();
}

size_t TScriptedToolkit::PendingPasswordAnswers() const {
  return state_->passwordAnswers.size();
}

bool TScriptedToolkit::Click(const std::string& control) {
  if (!state_->hasForm || state_->closed) return false;
  const auto it = state_->controls.find(control);
  if (it == state_->controls.end() || it->second.kind != TControlKind::Button ||
      !it->second.enabled) {
    return false;
  }
  state_->formEvents->OnClick(control);
  return true;
}

bool TScriptedToolkit::UserClose() {
  if (!state_->hasForm || state_->closed) return false;
  if (!state_->formEvents->OnCloseQuery()) return false;
  state_->closed = true;
  state_->Record({.kind = TScriptEventKind::Close, .value = 1});
  return true;
}

const std::vector<TScriptEvent>& TScriptedToolkit::Events() const {
  return state_->events;
}

std::vector<TScriptEvent> TScriptedToolkit::Events(TScriptEventKind kind) const {
  std::vector<TScriptEvent> found;
  std::copy_if(state_->events.begin(), state_->events.end(), std::back_inserter(found),
               [kind](const TScriptEvent& e) { return e.kind == kind; });
  return found;
}

std::vector<TShownBox> TScriptedToolkit::Boxes() const {
  std::vector<TShownBox> boxes;
  for (const TScriptEvent& e : Events(TScriptEventKind::MessageBox)) {
    boxes.push_back({e.text, e.caption, e.flags, static_cast<int>(e.value)});
  }
  return boxes;
}

std::vector<TShownPrompt> TScriptedToolkit::Prompts() const {
  std::vector<TShownPrompt> prompts;
  for (const TScriptEvent& e : Events(TScriptEventKind::PasswordPrompt)) {
    prompts.push_back({e.caption, e.text});
  }
  return prompts;
}

std::vector<std::string> TScriptedToolkit::CaptionHistory(const std::string& control) const {
  std::vector<std::string> history;
  for (const TScriptEvent& e : state_->events) {
    if (e.kind == TScriptEventKind::Caption && e.control == control) history.push_back(e.text);
  }
  return history;
}

size_t TScriptedToolkit::ProcessMessagesCount() const {
  return Events(TScriptEventKind::ProcessMessages).size();
}

void TScriptedToolkit::ClearEvents() {
  state_->events.clear();
}

const TFormSpec& TScriptedToolkit::FormSpec() const {
  if (!state_->hasForm) state_->Violation("no form has been created");
  return state_->spec;
}

const TControlState& TScriptedToolkit::Control(const std::string& name) const {
  return state_->ControlNamed(name);
}

std::map<std::string, TControlState> TScriptedToolkit::Controls() const {
  return state_->controls;
}

bool TScriptedToolkit::Closed() const {
  return state_->closed;
}

const std::vector<std::string>& TScriptedToolkit::Violations() const {
  return state_->violations;
}

}  // namespace lumen
