// The windowing toolkit as the program sees it. The window logic in app/ and the archiver's
// password prompt are written against these interfaces only; the wxWidgets backend (platform/wx)
// and the scripted backend for tests implement them. All texts crossing this interface are 8-bit
// ANSI (Windows-1251); a backend converts to whatever its screen needs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumen {

// Message-box flags and answers, with the values of the Windows message box, because the
// window's behaviour is defined in them.
inline constexpr uint32_t kMbOk = 0x00;
inline constexpr uint32_t kMbYesNo = 0x04;
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbIconWarning = 0x30;
inline constexpr uint32_t kMbIconInformation = 0x40;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
// Answers that only question boxes offer (see IToolkit::QuestionBox).
inline constexpr int kIdAbort = 3;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdIgnore = 5;
inline constexpr int kIdNoToAll = 9;
inline constexpr int kIdYesToAll = 10;

enum class TControlKind { Label, Button, ProgressBar };

// One control of a form, in pixels at 96 dpi.
struct TControlSpec {
  std::string name;  // "Label1", "Button1", ...
  TControlKind kind = TControlKind::Label;
  int left = 0, top = 0, width = 0, height = 0;
  std::string caption;    // ANSI
  int tabOrder = -1;      // -1: not a tab stop
  bool autoSize = false;  // labels that size themselves to their text
};

struct TFormSpec {
  std::string caption;  // ANSI
  int clientWidth = 0, clientHeight = 0;
  std::vector<TControlSpec> controls;  // creation order
};

// What a form hears from its window.
class IFormEvents {
 public:
  virtual ~IFormEvents() = default;
  virtual void OnClick(const std::string& control) = 0;
  // The user asks to close the window (close button, system menu). Returns whether the window
  // may close now; a form busy with a command may take note and refuse.
  virtual bool OnCloseQuery() = 0;
};

// A live window built from a TFormSpec.
class IWindow {
 public:
  virtual ~IWindow() = default;
  virtual void SetCaption(const std::string& control, const std::string& text) = 0;
  virtual std::string Caption(const std::string& control) const = 0;
  virtual void SetEnabled(const std::string& control, bool enabled) = 0;
  virtual bool Enabled(const std::string& control) const = 0;
  virtual void SetProgressRange(const std::string& control, int32_t min, int32_t max) = 0;
  virtual void SetProgressPosition(const std::string& control, int32_t position) = 0;
  virtual int32_t ProgressPosition(const std::string& control) const = 0;
  virtual int32_t ProgressMax(const std::string& control) const = 0;
  // Modal, owned by this window, first button default. Returns kIdOk, kIdYes or kIdNo.
  virtual int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) = 0;
  // Lets the window repaint and handle input; must be safe to call from inside a handler.
  virtual void ProcessMessages() = 0;
  // Closes the window; the message loop ends once it is gone.
  virtual void Close() = 0;
};

class IToolkit {
 public:
  virtual ~IToolkit() = default;
  virtual std::unique_ptr<IWindow> CreateForm(const TFormSpec& spec, IFormEvents& events) = 0;
  // Runs the message loop until the main window has closed.
  virtual void Run() = 0;
  // The archiver's modal password prompt. Returns false when cancelled or closed; on true,
  // password holds the typed text (at most 255 characters).
  virtual bool PasswordPrompt(const std::string& caption, const std::string& label,
                              std::string& password) = 0;
  // A modal question box that belongs to no window, for components that have none (the
  // archiver's hooks). Offers the buttons in the order given (kIdYes, kIdNo, kIdAbort, kIdRetry,
  // kIdIgnore, kIdYesToAll, kIdNoToAll), the first one default, and returns the pressed one, or
  // kIdCancel when the box was closed without an answer. A toolkit that cannot show such a box
  // answers kIdCancel, which every caller treats as the most careful answer.
  virtual int QuestionBox(const std::string& text, const std::string& caption,
                          const std::vector<int>& buttons) {
    (void)text;
    (void)caption;
    (void)buttons;
    return kIdCancel;
  }
};

// The toolkit the program installed (none until it does; tests install the scripted one).
IToolkit* CurrentToolkit();
void SetCurrentToolkit(IToolkit* toolkit);

}  // namespace lumen
