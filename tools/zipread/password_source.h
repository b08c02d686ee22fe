// Where zipread gets passwords for encrypted entries: the -p option, else the terminal when one
// is attached, else nowhere; an entry the source cannot open is skipped and the reason kept.
#pragma once

#include <optional>
#include <string>

#include "archive/zip_archiver.h"

namespace lumen::tools {

class TPasswordSource {
 public:
  // given: the -p text (UTF-8), if any. interactive: whether to ask on the terminal when no
  // password was given.
  TPasswordSource(std::optional<std::string> given, bool interactive);

  // Sets the archiver's password from -p and answers its password requests from now on.
  void Attach(TZABaseArchiver& archiver);

  // Call before each entry; afterwards Refusal() says why the entry was skipped, or is empty.
  void BeginEntry();
  const std::string& Refusal() const noexcept { return refusal_; }

 private:
  void Answer(const std::u16string& entryName, std::string& password, bool& skip);

  std::optional<std::string> given_;
  bool interactive_;
  int attempts_ = 0;
  std::string refusal_;
};

}  // namespace lumen::tools
