// Message composition for the platform exceptions that carry system details.
#include "platform/exceptions.h"

#include <cstring>

namespace lumen {

EFOpenError::EFOpenError(const std::string& fileName, int systemError)
    : Exception("Cannot open file \"" + fileName + "\". " + std::strerror(systemError)),
      systemError_(systemError) {}

EWriteError::EWriteError(const std::string& fileName, int systemError)
    : Exception("Cannot write file \"" + fileName + "\". " + std::strerror(systemError)) {}

}  // namespace lumen
