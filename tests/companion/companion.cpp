// A stand-in for the Lumen Courier program: a window titled "Lumen_courier" that closes when
// asked, and "--version" to tell which build replaced which.
#include <wx/wx.h>

#include <cstdio>
#include <cstring>

namespace {

class SampleFrame : public wxFrame {
 public:
  SampleFrame() : wxFrame(nullptr, wxID_ANY, "Lumen_courier") {
    auto* panel = new wxPanel(this);
    new wxStaticText(panel, wxID_ANY, "Lumen Courier sample, version " LUMEN_SAMPLE_VERSION,
                     wxPoint(16, 16));
    SetClientSize(FromDIP(wxSize(320, 60)));
  }
};

class SampleApp : public wxApp {
 public:
  bool OnInit() override {
    // The frame's default close handling destroys it, and the last frame ends the program.
    (new SampleFrame)->Show();
    return true;
  }
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(SampleApp);

int main(int argc, char** argv) {
  // Answered without a display, so scripts can tell the builds apart anywhere.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts(LUMEN_SAMPLE_VERSION);
    return 0;
  }
  return wxEntry(argc, argv);
}
