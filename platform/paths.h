// Path helpers: the folder part of a path, and the running program's own location.
#pragma once

#include <string>

namespace lumen {

// The path up to and including its last separator: "\", "/", or the colon of a bare drive
// ("D:name" gives "D:"). A path without any gives "". Works on bytes, so any 8-bit encoding
// of the names passes through untouched.
std::string ExtractFilePath(const std::string& fileName);

// The full path of the running executable, as the file system spells it. Raises Exception when
// the system cannot tell.
std::string OwnExecutablePath();

}  // namespace lumen
