// The wxWidgets application object behind the toolkit interface: start-up without command-line
// arguments, the message loop that ends with the main window, and the password prompt.
#include "platform/wx/wx_toolkit.h"

#include <exception>
#include <memory>
#include <utility>

#include "platform/exceptions.h"
#include "platform/wx/wx_internal.h"

namespace lumen {

namespace {

class LumenWxApp : public wxApp {
 public:
  bool OnInit() override { return true; }
};

bool g_toolkitAlive = false;

class WxToolkit final : public IToolkit, public wxui::WindowHost {
 public:
  WxToolkit() {
    if (g_toolkitAlive) throw Exception("The windowing toolkit is already running");
    // The program reads no command line, so wxWidgets and GTK are not shown ours either.
    static char programName[] = "lumen-updater";
    static char* argv[] = {programName, nullptr};
    int argc = 1;
    wxApp::SetInstance(new LumenWxApp);
    if (!wxEntryStart(argc, argv))
      throw Exception("Cannot start the windowing toolkit (is a display available?)");
    if (!wxTheApp->CallOnInit()) {
      wxEntryCleanup();
      throw Exception("Cannot start the windowing toolkit");
    }
    // The loop ends when the main window closes, which hides it rather than deleting it.
    wxTheApp->SetExitOnFrameDelete(false);
    g_toolkitAlive = true;
  }

  ~WxToolkit() override {
    wxTheApp->OnExit();
    wxEntryCleanup();
    g_toolkitAlive = false;
  }

  std::unique_ptr<IWindow> CreateForm(const TFormSpec& spec, IFormEvents& events) override {
    auto window = std::make_unique<wxui::WxWindow>(*this, spec, events);
    if (!main_) {
      main_ = window.get();
      wxTheApp->SetTopWindow(main_->Frame());
    }
    return window;
  }

  void Run() override {
    if (main_) {
      main_->ShowFirstTime();
      if (!main_->IsClosed() && !pending_) wxTheApp->OnRun();
    }
    if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
  }

  bool PasswordPrompt(const std::string& caption, const std::string& label,
                      std::string& password) override {
    wxWindow* parent =
        main_ && !main_->IsClosed() && main_->Frame()->IsShown() ? main_->Frame() : nullptr;
    return wxui::ShowPasswordPrompt(parent, caption, label, password);
  }

  void Dispatch(const std::function<void()>& handler) noexcept override {
    try {
      handler();
    } catch (...) {
      if (!pending_) pending_ = std::current_exception();
      wxTheApp->ExitMainLoop();
    }
  }

  void WindowClosed(wxui::WxWindow& window) override {
    if (&window == main_) wxTheApp->ExitMainLoop();
  }

  void WindowDestroyed(wxui::WxWindow& window) noexcept override {
    if (&window == main_) {
      main_ = nullptr;
      wxTheApp->SetTopWindow(nullptr);
    }
  }

 private:
  wxui::WxWindow* main_ = nullptr;
  std::exception_ptr pending_;
};

}  // namespace

std::unique_ptr<IToolkit> CreateWxToolkit() {
  return std::make_unique<WxToolkit>();
}

}  // namespace lumen
