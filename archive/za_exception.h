// The archiver's one exception class: a native error code that names the failed condition,
// mapped to one of the fixed message texts and composed with the failing component's name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/exceptions.h"

namespace lumen {

class TComponent;

// One argument for a placeholder of a message text: 8-bit ANSI text, UTF-16 text (an entry
// name; converted to ANSI when the argument is made) or an integer.
class FormatArg {
 public:
  FormatArg(std::string ansi) : value_(std::move(ansi)) {}
  FormatArg(const char* ansi) : value_(std::string(ansi)) {}
  FormatArg(const std::u16string& wide);
  FormatArg(const char16_t* wide);
  template <typename T>
  requires std::is_integral_v<T> FormatArg(T number) : value_(static_cast<int64_t>(number)) {}

  const std::variant<std::string, int64_t>& Value() const noexcept { return value_; }

 private:
  std::variant<std::string, int64_t> value_;
};

// Substitutes the arguments, in order, for the placeholders "%s" and "%d" of a message text; "%%"
// gives one "%". Arguments are rendered by their own type (text as is, integers in decimal), so
// an argument can never be read as formatting. A placeholder without an argument, or any other
// "%" sequence, stays in the text as written; arguments beyond the placeholders are ignored.
std::string FormatMessageText(std::string_view text, const std::vector<FormatArg>& args);

class EZAException : public Exception {
 public:
  // The message text keeps its placeholders literally: no arguments are applied.
  explicit EZAException(int32_t nativeError, const TComponent* archiver = nullptr);
  // The arguments are applied to the message text first.
  EZAException(int32_t nativeError, std::vector<FormatArg> args,
               const TComponent* archiver = nullptr);

  // Index into the message table, 0 to 40; 0 ("Unknown error") for a native code not in the map.
  int32_t ErrorCode() const noexcept { return errorCode_; }
  // The code the failing place gave, 0 to 67 for the known ones.
  int32_t NativeError() const noexcept { return nativeError_; }

  // The message-table index a native code maps to.
  static int32_t ErrorCodeOf(int32_t nativeError) noexcept;
  // The message text at an error code, placeholders included; empty outside 0 to 40.
  static std::string_view MessageText(int32_t errorCode) noexcept;

 private:
  EZAException(int32_t nativeError, const std::vector<FormatArg>* args, const TComponent* archiver);

  int32_t errorCode_ = 0;
  int32_t nativeError_ = 0;
};

}  // namespace lumen
