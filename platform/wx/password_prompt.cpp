// The archiver's password prompt: a small modal dialog laid out in dialog units of its own font,
// so it keeps its proportions with whatever font the desktop uses.
#include <wx/textctrl.h>

#include "platform/wx/wx_internal.h"

namespace lumen::wxui {

namespace {
constexpr int kMaxPasswordLength = 255;
}

bool ShowPasswordPrompt(wxWindow* parent, const std::string& caption, const std::string& label,
                        std::string& password) {
  wxDialog dialog(parent, wxID_ANY, ToWx(caption), wxDefaultPosition, wxDefaultSize,
                  wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  const auto at = [&dialog](int x, int y) { return dialog.ConvertDialogToPixels(wxPoint(x, y)); };
  const auto extent = [&dialog](int w, int h) {
    return dialog.ConvertDialogToPixels(wxSize(w, h));
  };
  new wxStaticText(&dialog, wxID_ANY, ToWx(label), at(8, 8));
  auto* edit = new wxTextCtrl(&dialog, wxID_ANY, wxEmptyString, at(8, 19),
                              wxSize(extent(164, 0).x, -1), wxTE_PASSWORD);
  edit->SetMaxLength(kMaxPasswordLength);
  auto* ok = new wxButton(&dialog, wxID_OK, "OK", at(38, 41), extent(50, 14));
  new wxButton(&dialog, wxID_CANCEL, "Cancel", at(92, 41), extent(50, 14));
  ok->SetDefault();
  dialog.SetClientSize(extent(180, 63));
  dialog.CentreOnScreen();
  edit->SetFocus();
  // Escape and the title bar's close button end the dialog as Cancel does.
  if (dialog.ShowModal() != wxID_OK) return false;
  password = FromWx(edit->GetValue());
  return true;
}

}  // namespace lumen::wxui
