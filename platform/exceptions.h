// The platform's exception family: one base carrying a message, and the failures of streams,
// files and memory that pass through the layers above unchanged.
#pragma once

#include <exception>
#include <string>

namespace lumen {

// Base of every failure the program raises. The message is 8-bit text in the ANSI code page.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 protected:
  void SetMessage(std::string message) { message_ = std::move(message); }

 private:
  std::string message_;
};

// A read of an exact byte count came up short.
class EReadError : public Exception {
 public:
  EReadError() : Exception("Stream read error") {}
};

// A write of an exact byte count was refused. The second form names the file and the system's
// reason, for writes that go straight to a named file.
class EWriteError : public Exception {
 public:
  EWriteError() : Exception("Stream write error") {}
  EWriteError(const std::string& fileName, int systemError);
};

// A file could not be opened or created; the message names the file and the system's reason.
class EFOpenError : public Exception {
 public:
  EFOpenError(const std::string& fileName, int systemError);
  int SystemError() const noexcept { return systemError_; }

 private:
  int systemError_;
};

// An in-memory stream could not grow.
class EOutOfMemory : public Exception {
 public:
  EOutOfMemory() : Exception("Out of memory while expanding memory stream") {}
};

}  // namespace lumen
