// The update window on wxWidgets: a fixed-size frame built from a form description, in pixels
// at 96 dpi, with native labels, buttons, a progress bar and message boxes.
#include <wx/evtloop.h>
#include <wx/fontenum.h>
#include <wx/gauge.h>
#include <wx/msgdlg.h>

#include <algorithm>

#include "platform/exceptions.h"
#include "platform/wx/app_icon.h"
#include "platform/wx/wx_internal.h"

namespace lumen::wxui {

namespace {

// The progress bar keeps the form's 32-bit range itself and shows only the filled fraction, so
// that any range works, an empty one (a download of unknown length) included.
constexpr int kGaugeSteps = 10000;

int GaugeValue(int64_t min, int64_t max, int64_t position) {
  if (max <= min) return 0;
  return static_cast<int>((position - min) * kGaugeSteps / (max - min));
}

}  // namespace

wxFont FormFont() {
  // The layout was drawn for Tahoma 8. Where it is missing, DejaVu Sans Condensed 8 has nearly
  // the same text widths, so every text stays inside its control. It is a width of the DejaVu
  // Sans family rather than a family of its own, so it cannot be enumerated; without it the
  // font system falls back to plain DejaVu Sans.
  static const wxString face = wxFontEnumerator::IsValidFacename("Tahoma")
                                   ? wxString("Tahoma")
                                   : wxString("DejaVu Sans Condensed");
  return wxFont(wxFontInfo(8).FaceName(face));
}

WxWindow::WxWindow(WindowHost& host, const TFormSpec& spec, IFormEvents& events)
    : host_(host), events_(events) {
  // Fixed single border, system menu and minimise, no maximise and no resizing.
  frame_ = new wxFrame(nullptr, wxID_ANY, ToWx(spec.caption), wxDefaultPosition, wxDefaultSize,
                       wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX);
  frame_->SetIcon(wxIcon(kAppIconXpm));
  frame_->SetFont(FormFont());
  auto* panel = new wxPanel(frame_, wxID_ANY);
  panel->SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
  panel->SetFont(FormFont());

  for (const TControlSpec& c : spec.controls) {
    const wxPoint pos = frame_->FromDIP(wxPoint(c.left, c.top));
    const wxSize size = frame_->FromDIP(wxSize(c.width, c.height));
    Control control{c};
    switch (c.kind) {
      case TControlKind::Label:
        // A label of fixed width keeps its width whatever its text; the text is clipped.
        control.widget = c.autoSize ? new wxStaticText(panel, wxID_ANY, ToWx(c.caption), pos)
                                    : new wxStaticText(panel, wxID_ANY, ToWx(c.caption), pos, size,
                                                       wxST_NO_AUTORESIZE);
        break;
      case TControlKind::Button:
        control.widget = new wxButton(panel, wxID_ANY, ToWx(c.caption), pos, size);
        break;
      case TControlKind::ProgressBar:
        control.widget = new wxGauge(panel, wxID_ANY, kGaugeSteps, pos, size, wxGA_HORIZONTAL);
        break;
    }
    control.widget->SetFont(FormFont());
    controls_.push_back(std::move(control));
  }

  // Keyboard order follows the tab order, not the creation order.
  std::vector<const Control*> stops;
  for (const Control& c : controls_)
    if (c.spec.tabOrder >= 0 && c.widget->AcceptsFocus()) stops.push_back(&c);
  std::stable_sort(stops.begin(), stops.end(), [](const Control* a, const Control* b) {
    return a->spec.tabOrder < b->spec.tabOrder;
  });
  for (size_t i = 1; i < stops.size(); ++i)
    stops[i]->widget->MoveAfterInTabOrder(stops[i - 1]->widget);

  frame_->SetClientSize(frame_->FromDIP(wxSize(spec.clientWidth, spec.clientHeight)));
  frame_->SetSizeHints(frame_->GetSize(), frame_->GetSize());
  frame_->Bind(wxEVT_BUTTON, &WxWindow::OnButtonEvent, this);
  frame_->Bind(wxEVT_CLOSE_WINDOW, &WxWindow::OnCloseEvent, this);
}

WxWindow::~WxWindow() {
  host_.WindowDestroyed(*this);
  // Nothing may reach this object once it is gone, and wxWidgets deletes the frame only when
  // no event of it is still being handled.
  frame_->Unbind(wxEVT_CLOSE_WINDOW, &WxWindow::OnCloseEvent, this);
  frame_->Unbind(wxEVT_BUTTON, &WxWindow::OnButtonEvent, this);
  frame_->Hide();
  frame_->Destroy();
  // Outside the message loop nothing else would let the hidden frame leave the screen (and the
  // frame be deleted) until the program ends; inside it the loop does this on its next turn.
  if (!wxEventLoopBase::GetActive() && wxTheApp) wxTheApp->Yield(true);
}

WxWindow::Control& WxWindow::Find(const std::string& name) {
  for (Control& c : controls_)
    if (c.spec.name == name) return c;
  throw Exception("Control not found: " + name);
}

const WxWindow::Control& WxWindow::Find(const std::string& name) const {
  return const_cast<WxWindow*>(this)->Find(name);
}

void WxWindow::SetCaption(const std::string& control, const std::string& text) {
  Control& c = Find(control);
  c.spec.caption = text;
  c.widget->SetLabel(ToWx(text));
}

std::string WxWindow::Caption(const std::string& control) const {
  return Find(control).spec.caption;
}

void WxWindow::SetEnabled(const std::string& control, bool enabled) {
  Find(control).widget->Enable(enabled);
}

bool WxWindow::Enabled(const std::string& control) const {
  return Find(control).widget->IsThisEnabled();
}

void WxWindow::ShowProgress(Control& c) {
  if (auto* gauge = dynamic_cast<wxGauge*>(c.widget))
    gauge->SetValue(GaugeValue(c.min, c.max, c.position));
}

void WxWindow::SetProgressRange(const std::string& control, int32_t min, int32_t max) {
  Control& c = Find(control);
  c.min = min;
  c.max = max;
  // As a native progress bar does, the position stays inside the range.
  if (max >= min) c.position = std::clamp(c.position, min, max);
  ShowProgress(c);
}

void WxWindow::SetProgressPosition(const std::string& control, int32_t position) {
  Control& c = Find(control);
  c.position = c.max >= c.min ? std::clamp(position, c.min, c.max) : c.min;
  ShowProgress(c);
}

int32_t WxWindow::ProgressPosition(const std::string& control) const {
  return Find(control).position;
}

int32_t WxWindow::ProgressMax(const std::string& control) const {
  return Find(control).max;
}

int WxWindow::MessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  long style = 0;
  switch (flags & 0x0F) {
    case 0x01:
      style = wxOK | wxCANCEL | wxOK_DEFAULT;
      break;
    case 0x03:
      style = wxYES_NO | wxCANCEL | wxYES_DEFAULT;
      break;
    case kMbYesNo:
      style = wxYES_NO | wxYES_DEFAULT;
      break;
    default:
      style = wxOK | wxOK_DEFAULT;
      break;
  }
  switch (flags & 0xF0) {
    case 0x10:
      style |= wxICON_ERROR;
      break;
    case kMbIconQuestion:
      style |= wxICON_QUESTION;
      break;
    case kMbIconWarning:
      style |= wxICON_WARNING;
      break;
    case kMbIconInformation:
      style |= wxICON_INFORMATION;
      break;
    default:
      style |= wxICON_NONE;
      break;
  }
  // A closed window cannot own a box; the box then stands on its own, centred on the screen.
  wxWindow* parent = closed_ || !frame_->IsShown() ? nullptr : frame_;
  wxMessageDialog box(parent, ToWx(text), ToWx(caption), style | wxCENTRE);
  switch (box.ShowModal()) {
    case wxID_OK:
      return kIdOk;
    case wxID_YES:
      return kIdYes;
    case wxID_NO:
      return kIdNo;
    default:
      // Dismissed without a button (Escape, the title bar): the answer that commits to nothing.
      if (style & wxCANCEL) return kIdCancel;
      return (style & wxYES_NO) ? kIdNo : kIdOk;
  }
}

void WxWindow::ProcessMessages() {
  // Yielding only when not already yielding keeps a handler that runs inside another one's
  // message processing from recursing into wxWidgets' dispatch.
  if (wxTheApp) wxTheApp->Yield(true);
}

void WxWindow::Close() {
  if (closed_) return;
  closed_ = true;
  // The frame lives until this object goes, because a handler may still be running in it.
  frame_->Hide();
  host_.WindowClosed(*this);
}

void WxWindow::OnButtonEvent(wxCommandEvent& event) {
  for (const Control& c : controls_) {
    if (c.widget == event.GetEventObject()) {
      // The handler may change the controls, so it gets its own copy of the name.
      const std::string name = c.spec.name;
      host_.Dispatch([this, &name] { events_.OnClick(name); });
      return;
    }
  }
}

void WxWindow::OnCloseEvent(wxCloseEvent& event) {
  if (closed_) return;
  if (event.CanVeto()) {
    bool allowed = true;
    host_.Dispatch([this, &allowed] { allowed = events_.OnCloseQuery(); });
    if (!allowed) {
      event.Veto();
      return;
    }
  }
  Close();
}

void WxWindow::ShowFirstTime() {
  if (closed_) return;
  if (!shown_) {
    shown_ = true;
    frame_->Centre(wxBOTH);
    frame_->Show();
    // The first control in tab order has the focus when the window opens.
    const Control* first = nullptr;
    for (const Control& c : controls_)
      if (c.spec.tabOrder >= 0 && c.widget->AcceptsFocus() &&
          (!first || c.spec.tabOrder < first->spec.tabOrder))
        first = &c;
    if (first) first->widget->SetFocus();
  }
  frame_->Raise();
}

}  // namespace lumen::wxui
