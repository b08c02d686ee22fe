// Pieces of the wxWidgets backend shared between its sources: text conversion at the boundary,
// the window class and the hooks the toolkit gives its windows.
#pragma once

#include <wx/wx.h>

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/toolkit.h"

namespace lumen::wxui {

// The interface speaks ANSI (Windows-1251); wxWidgets speaks Unicode.
inline wxString ToWx(const std::string& ansi) {
  return wxString::FromUTF8(AnsiToUtf8(ansi));
}
inline std::string FromWx(const wxString& text) {
  const wxScopedCharBuffer utf8 = text.utf8_str();
  return Utf8ToAnsi(std::string(utf8.data(), utf8.length()));
}

// The font every form uses: the design font when installed, else the closest 8-point sans.
wxFont FormFont();

// What a window needs from the toolkit that made it.
class WindowHost {
 public:
  virtual ~WindowHost() = default;
  // Runs an event handler; an exception it throws must not unwind through the toolkit's C
  // frames, so it is kept and the message loop ends with it.
  virtual void Dispatch(const std::function<void()>& handler) noexcept = 0;
  virtual void WindowClosed(class WxWindow& window) = 0;
  virtual void WindowDestroyed(class WxWindow& window) noexcept = 0;
};

class WxWindow final : public IWindow {
 public:
  WxWindow(WindowHost& host, const TFormSpec& spec, IFormEvents& events);
  ~WxWindow() override;

  void SetCaption(const std::string& control, const std::string& text) override;
  std::string Caption(const std::string& control) const override;
  void SetEnabled(const std::string& control, bool enabled) override;
  bool Enabled(const std::string& control) const override;
  void SetProgressRange(const std::string& control, int32_t min, int32_t max) override;
  void SetProgressPosition(const std::string& control, int32_t position) override;
  int32_t ProgressPosition(const std::string& control) const override;
  int32_t ProgressMax(const std::string& control) const override;
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override;
  void ProcessMessages() override;
  void Close() override;

  // Shows the window centred the first time; later calls only raise it.
  void ShowFirstTime();
  bool IsClosed() const noexcept { return closed_; }
  wxFrame* Frame() const noexcept { return frame_; }

 private:
  struct Control {
    TControlSpec spec;
    wxWindow* widget = nullptr;  // owned by the frame
    int32_t min = 0, max = 100, position = 0;
  };

  Control& Find(const std::string& name);
  const Control& Find(const std::string& name) const;
  void ShowProgress(Control& control);
  void OnButtonEvent(wxCommandEvent& event);
  void OnCloseEvent(wxCloseEvent& event);

  WindowHost& host_;
  IFormEvents& events_;
  wxFrame* frame_ = nullptr;  // deleted by our destructor, never by wxWidgets behind our back
  std::vector<Control> controls_;
  bool shown_ = false;
  bool closed_ = false;
};

// The modal prompt of the archiver; false when cancelled or closed.
bool ShowPasswordPrompt(wxWindow* parent, const std::string& caption, const std::string& label,
                        std::string& password);

}  // namespace lumen::wxui
