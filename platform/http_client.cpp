// THttpClient over libcurl's easy interface, which runs the transfer and all its callbacks on
// the calling thread, as the window's progress handlers require.
#include "platform/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <limits>
#include <string_view>

#include "platform/stream.h"

namespace lumen {

namespace {

// libcurl wants one global initialisation before any handle exists and one cleanup at exit.
class TCurlGlobal {
 public:
  TCurlGlobal() {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      throw EHttpError("The HTTP library could not be initialised", 0);
    }
  }
  ~TCurlGlobal() { curl_global_cleanup(); }
};

void EnsureCurlGlobal() {
  static TCurlGlobal global;
}

int32_t ClampToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

struct SlistDeleter {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

SlistPtr AppendHeader(SlistPtr list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (grown == nullptr) throw EHttpError("Out of memory building the request", 0);
  list.release();
  return SlistPtr(grown);
}

std::string_view TrimLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  return line;
}

// How long a body may stay quiet before its running total is reported again.
constexpr std::chrono::milliseconds kIdleWorkInterval{500};

}  // namespace

void THttpClient::CurlDeleter::operator()(void* handle) const noexcept {
  curl_easy_cleanup(static_cast<CURL*>(handle));
}

// State of one request, shared with libcurl's callbacks. A callback must not let an exception
// cross libcurl's C frames, so failures are parked here and rethrown once the call returns.
class THttpClient::TTransfer {
 public:
  TTransfer(THttpClient& client, CURL* curl, const std::function<void(const char*, size_t)>& sink)
      : client_(client), curl_(curl), sink_(sink) {}

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    return static_cast<TTransfer*>(self)->Header(std::string_view(data, size * count));
  }
  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    return static_cast<TTransfer*>(self)->Body(data, size * count);
  }
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<TTransfer*>(self)->Idle();
  }

  // Runs the request and raises whatever ended it badly. The end event comes first whenever the
  // begin event came, so the window's status line is settled before any warning is shown.
  void Run() {
    const CURLcode result = curl_easy_perform(curl_);
    if (began_) {
      try {
        if (client_.OnWorkEnd) client_.OnWorkEnd(&client_, TWorkMode::wmRead);
      } catch (...) {
        // The transfer's own failure is the one the caller needs to see.
        if (!failure_) failure_ = std::current_exception();
      }
    }
    if (failure_) std::rethrow_exception(failure_);
    if (client_.abortRequested_) throw EHttpAborted();
    if (rejected_) throw EHttpError(statusLine_, static_cast<int>(status_));
    if (result != CURLE_OK) {
      throw EHttpError(errorText_[0] != '\0' ? errorText_ : curl_easy_strerror(result), 0);
    }
    long status = 0;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) {
      throw EHttpError(statusLine_.empty() ? "No valid HTTP reply" : statusLine_,
                       static_cast<int>(status));
    }
  }

  char* ErrorBuffer() { return errorText_; }

 private:
  size_t Header(std::string_view line) {
    if (line.starts_with("HTTP/")) {
      statusLine_ = std::string(TrimLineEnd(line));
      return line.size();
    }
    if (!TrimLineEnd(line).empty()) return line.size();

    // End of one reply's headers. Interim 1xx replies are followed by the real one.
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status_);
    if (status_ >= 100 && status_ <= 199) return line.size();
    if (status_ < 200 || status_ > 299) {
      // Stop here: the body of a refused reply is never wanted.
      rejected_ = true;
      return 0;
    }
    curl_off_t announced = -1;
    curl_easy_getinfo(curl_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    began_ = true;
    return Notify(line.size(), [&] {
      if (client_.OnWorkBegin) {
        client_.OnWorkBegin(&client_, TWorkMode::wmRead,
                            ClampToInt32(std::max<int64_t>(announced, 0)));
      }
    });
  }

  size_t Body(const char* data, size_t size) {
    if (client_.abortRequested_) return 0;
    return Notify(size, [&] {
      sink_(data, size);
      received_ += static_cast<int64_t>(size);
      Work();
    });
  }

  void Work() {
    lastWork_ = std::chrono::steady_clock::now();
    if (client_.OnWork) client_.OnWork(&client_, TWorkMode::wmRead, ClampToInt32(received_));
  }

  // libcurl calls this about once a second even while no byte arrives. A body that stalls would
  // otherwise leave the window without a single chance to process its messages (to repaint, or
  // to be closed, which aborts the transfer) until the stall limit ends the transfer; so a quiet
  // body repeats its running total now and then.
  int Idle() {
    if (client_.abortRequested_ || failure_) return 1;
    if (!began_ || std::chrono::steady_clock::now() - lastWork_ < kIdleWorkInterval) return 0;
    return Notify(1, [&] { Work(); }) == 0 ? 1 : 0;
  }

  // Runs a step that may throw or abort; any value but taken makes libcurl stop the transfer.
  template <typename Step>
  size_t Notify(size_t taken, Step step) {
    try {
      step();
    } catch (...) {
      failure_ = std::current_exception();
      return 0;
    }
    return client_.abortRequested_ ? 0 : taken;
  }

  THttpClient& client_;
  CURL* curl_;
  const std::function<void(const char*, size_t)>& sink_;
  std::string statusLine_;
  long status_ = 0;
  bool rejected_ = false;
  bool began_ = false;
  int64_t received_ = 0;
  std::chrono::steady_clock::time_point lastWork_ = std::chrono::steady_clock::now();
  std::exception_ptr failure_;
  char errorText_[CURL_ERROR_SIZE] = {};
};

THttpClient::THttpClient(TComponent* owner) : TComponent(owner) {
  EnsureCurlGlobal();
  curl_.reset(curl_easy_init());
  if (!curl_) throw EHttpError("The HTTP library could not create a session", 0);
  // Turns the cookie engine on for the session without reading any file.
  if (curl_easy_setopt(curl_.get(), CURLOPT_COOKIEFILE, "") != CURLE_OK) {
    throw EHttpError("The HTTP library could not create a session", 0);
  }
}

THttpClient::~THttpClient() = default;

std::string THttpClient::Get(const std::string& url) {
  std::string body;
  Perform(url, [&](const char* data, size_t size) { body.append(data, size); });
  return body;
}

void THttpClient::Get(const std::string& url, TStream& destination) {
  Perform(url, [&](const char* data, size_t size) {
    destination.WriteBuffer(data, static_cast<int64_t>(size));
  });
}

void THttpClient::Perform(const std::string& url,
                          const std::function<void(const char*, size_t)>& sink) {
  if (busy_) throw EHttpError("The HTTP client is already transferring", 0);
  auto* curl = static_cast<CURL*>(curl_.get());
  // Every request sets the same options, so none of one request's settings carries over into the
  // next; those that point into the request's own objects are cleared when it ends, so no option
  // outlives what it points to. (No curl_easy_reset: after a transfer it drops the cookie engine's
  // file list without freeing it.)
  struct TRequestScope {
    bool& busy;
    CURL* curl;
    ~TRequestScope() {
      curl_easy_setopt(curl, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
      curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));
      curl_easy_setopt(curl, CURLOPT_HEADERDATA, static_cast<void*>(nullptr));
      curl_easy_setopt(curl, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
      curl_easy_setopt(curl, CURLOPT_XFERINFODATA, static_cast<void*>(nullptr));
      busy = false;
    }
  } scope{busy_, curl};
  busy_ = true;
  abortRequested_ = false;
  TTransfer transfer(*this, curl, sink);
  SlistPtr headers = AppendHeader(nullptr, "Accept: " + Accept);

  const auto set = [&](CURLoption option, auto value) {
    const CURLcode code = curl_easy_setopt(curl, option, value);
    if (code != CURLE_OK) throw EHttpError(curl_easy_strerror(code), 0);
  };
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  set(CURLOPT_HTTPGET, 1L);
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_USERAGENT, UserAgent.c_str());
  set(CURLOPT_HTTPHEADER, headers.get());
  set(CURLOPT_PROXY, "");
  set(CURLOPT_NOPROXY, "*");
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ConnectTimeout.count()));
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(StallTimeout.count()));
  set(CURLOPT_ERRORBUFFER, transfer.ErrorBuffer());
  set(CURLOPT_HEADERFUNCTION, &TTransfer::OnHeader);
  set(CURLOPT_HEADERDATA, static_cast<void*>(&transfer));
  set(CURLOPT_WRITEFUNCTION, &TTransfer::OnBody);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&transfer));
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, &TTransfer::OnProgress);
  set(CURLOPT_XFERINFODATA, static_cast<void*>(&transfer));

  transfer.Run();
}

}  // namespace lumen
