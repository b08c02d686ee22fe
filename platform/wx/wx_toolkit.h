// The wxWidgets toolkit: the real windows, message boxes and password prompt of the program.
// Deliberately free of wxWidgets headers, so that whoever creates the toolkit does not compile
// against wxWidgets.
#pragma once

#include <memory>

#include "platform/toolkit.h"

namespace lumen {

// Initialises wxWidgets (no command-line arguments are passed to it) and returns the toolkit.
// Only one may exist at a time. Throws Exception when the display cannot be opened or when a
// toolkit already exists. Destroy every window it created before destroying it.
// Run() shows the first form created, centred, and returns once that form has closed; a failure
// that escaped an event handler is rethrown from Run().
std::unique_ptr<IToolkit> CreateWxToolkit();

}  // namespace lumen
