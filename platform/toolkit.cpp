// The one installed toolkit, reached by code that cannot be handed it (the archiver's prompt).
#include "platform/toolkit.h"

namespace lumen {

namespace {
IToolkit* g_toolkit = nullptr;
}

IToolkit* CurrentToolkit() {
  return g_toolkit;
}
void SetCurrentToolkit(IToolkit* toolkit) {
  g_toolkit = toolkit;
}

}  // namespace lumen
