// THttpClient: the HTTP GET component the window downloads with (libcurl underneath).
//
// Contract:
// - Get returns or stores the whole response body only for a 2xx reply. Any other status, a
//   redirect included (redirects are never followed), raises EHttpError carrying the status; a
//   failure to resolve, connect, send or receive raises EHttpError with status 0; Abort() makes
//   the running transfer raise EHttpAborted. Failures of the destination stream and exceptions
//   thrown by an event handler pass through unchanged, after the end event.
// - Events run on the calling thread, inside Get: for a 2xx reply one OnWorkBegin with the
//   announced length (0 when none), OnWork with the running total after each piece of the body
//   and again, unchanged, about once a second while the body stalls,
//   and one OnWorkEnd, which also comes when the body transfer breaks off. Counts are clamped
//   to the 32-bit signed range the handlers take.
// - One transfer at a time per client: a Get from inside one of its own events raises
//   EHttpError. Cookies set by a server are kept for later requests of the same client.
// - The client never owns the stream it writes to; it writes at the stream's position and
//   leaves the position after the last byte written.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/component.h"
#include "platform/exceptions.h"

namespace lumen {

class TStream;

enum class TWorkMode { wmRead, wmWrite };

// A request that did not end in a 2xx reply. StatusCode is the reply's status, or 0 when no
// reply arrived (transport failure, abort).
class EHttpError : public Exception {
 public:
  EHttpError(std::string message, int statusCode)
      : Exception(std::move(message)), statusCode_(statusCode) {}
  int StatusCode() const noexcept { return statusCode_; }

 private:
  int statusCode_;
};

// The transfer was stopped by THttpClient::Abort.
class EHttpAborted : public EHttpError {
 public:
  EHttpAborted() : EHttpError("Operation aborted", 0) {}
};

class THttpClient : public TComponent {
 public:
  using TWorkBeginEvent =
      std::function<void(TComponent* ASender, TWorkMode AWorkMode, int32_t AWorkCountMax)>;
  using TWorkEvent =
      std::function<void(TComponent* ASender, TWorkMode AWorkMode, int32_t AWorkCount)>;
  using TWorkEndEvent = std::function<void(TComponent* ASender, TWorkMode AWorkMode)>;

  explicit THttpClient(TComponent* owner = nullptr);
  ~THttpClient() override;

  // The response body, byte for byte.
  std::string Get(const std::string& url);
  // Writes the response body into destination at its position.
  void Get(const std::string& url, TStream& destination);

  // Stops the transfer in progress at its next callback: from an event handler, from something
  // a handler runs (a window's message processing), or from another thread. No effect on a
  // transfer that starts later.
  void Abort() noexcept { abortRequested_ = true; }
  bool Busy() const noexcept { return busy_; }

  TWorkBeginEvent OnWorkBegin;
  TWorkEvent OnWork;
  TWorkEndEvent OnWorkEnd;

  // Request settings, the same for every request.
  std::string Accept = "text/html, */*";
  std::string UserAgent = "Mozilla/3.0 (compatible; Lumen Courier Updater)";
  // A server that does not accept the connection within ConnectTimeout, or a transfer that
  // moves no byte for StallTimeout, fails instead of blocking the window for good.
  std::chrono::milliseconds ConnectTimeout{std::chrono::seconds(30)};
  std::chrono::seconds StallTimeout{60};

 private:
  class TTransfer;
  struct CurlDeleter {
    void operator()(void* handle) const noexcept;
  };

  void Perform(const std::string& url, const std::function<void(const char*, size_t)>& sink);

  std::unique_ptr<void, CurlDeleter> curl_;
  bool busy_ = false;
  // Atomic so that a watchdog or signal thread may stop a transfer too.
  std::atomic<bool> abortRequested_{false};
};

}  // namespace lumen
