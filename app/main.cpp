// The program entry: starts the windowing toolkit, opens the update window and runs until the
// window closes. It reads no command line; everything it needs is fixed in the program.
#include <cstdio>
#include <exception>

#include "app/unit1.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/toolkit.h"
#include "platform/wx/wx_toolkit.h"

int main() {
  try {
    const std::unique_ptr<lumen::IToolkit> toolkit = lumen::CreateWxToolkit();
    lumen::SetCurrentToolkit(toolkit.get());
    {
      // The window goes before the toolkit that drew it.
      lumen::TForm1 form(*toolkit);
      toolkit->Run();
    }
    lumen::SetCurrentToolkit(nullptr);
  } catch (const lumen::Exception& e) {
    // Only a start-up failure (no display) gets here: the window reports everything else itself.
    std::fprintf(stderr, "lumen-updater: %s\n", lumen::AnsiToUtf8(e.Message()).c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lumen-updater: %s\n", e.what());
    return 1;
  }
  return 0;
}
