// Path helpers. The program's folder decides where the companion executable is looked for, so
// the separators of both Windows and POSIX paths are honoured.
#include "platform/paths.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/exceptions.h"

namespace lumen {

namespace {

bool IsDriveColon(const std::string& path, size_t index) {
  if (index != 1 || path[1] != ':') return false;
  const char drive = path[0];
  return (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
}

}  // namespace

std::string ExtractFilePath(const std::string& fileName) {
  // A colon elsewhere is part of a POSIX name ("/srv/a:b/x"), not a drive.
  const size_t slash = fileName.find_last_of("\\/");
  size_t cut = slash == std::string::npos ? 0 : slash + 1;
  if (cut == 0 && fileName.size() >= 2 && IsDriveColon(fileName, 1)) cut = 2;
  return fileName.substr(0, cut);
}

std::string OwnExecutablePath() {
  // readlink does not say whether it truncated, so grow until the link fits with room to spare.
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) {
      throw Exception(std::string("Cannot determine the program's own path. ") +
                      std::strerror(errno));
    }
    if (static_cast<size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<size_t>(length));
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace lumen
