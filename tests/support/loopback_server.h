// A real HTTP server on 127.0.0.1 inside the test process, with canned replies (including ones
// that break off or stall mid-body) and a record of every request that reached it.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace lumen::test {

// How the body of a reply leaves the server.
enum class TBodyMode {
  Complete,  // the whole body with its Content-Length
  Chunked,   // the whole body in chunked encoding, no length announced
  Close,     // announces announcedLength, sends the body, then drops the connection
  Stall,     // announces announcedLength, sends the body, then sends nothing until shutdown
};

struct TReply {
  int status = 200;
  std::string body{};
  std::vector<std::pair<std::string, std::string>> headers{};
  TBodyMode mode = TBodyMode::Complete;
  size_t announcedLength = 0;  // Close and Stall only; more than body.size()
};

struct TRecordedRequest {
  std::string method;
  std::string path;
  std::string version;  // "HTTP/1.1"
  std::multimap<std::string, std::string> headers;
  // The first value of the header (names compared case-insensitively), or "" without one.
  std::string Header(const std::string& name) const;
  size_t HeaderCount(const std::string& name) const;
};

class TLoopbackServer {
 public:
  // Listens on an ephemeral port of 127.0.0.1 before returning; unknown paths get 404.
  TLoopbackServer();
  ~TLoopbackServer();
  TLoopbackServer(const TLoopbackServer&) = delete;
  TLoopbackServer& operator=(const TLoopbackServer&) = delete;

  int Port() const;
  std::string Host() const;                        // "127.0.0.1:<port>"
  std::string Url(const std::string& path) const;  // "http://127.0.0.1:<port><path>"

  void Serve(const std::string& path, TReply reply);
  void ServeText(const std::string& path, std::string body) {
    Serve(path, {.body = std::move(body)});
  }
  void ServeRedirect(const std::string& path, const std::string& location, int status = 302);

  // Every request that arrived, matched or not, in arrival order.
  std::vector<TRecordedRequest> Requests() const;
  size_t RequestCount(const std::string& path) const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// A loopback port where nothing listens: the socket is bound and kept, so no other program can
// take the port while the test runs, and a connection attempt is refused at once.
class TRefusingPort {
 public:
  TRefusingPort();
  ~TRefusingPort();
  TRefusingPort(const TRefusingPort&) = delete;
  TRefusingPort& operator=(const TRefusingPort&) = delete;
  int Port() const { return port_; }
  std::string Host() const;
  std::string Url(const std::string& path) const;

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace lumen::test
