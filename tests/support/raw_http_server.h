// An HTTP server on 127.0.0.1 that answers every request with exactly the bytes a test wrote
// down and then ends the connection the way the test asked (close, reset, or keep it open
// without a byte more). It exists for the faults a well-behaved server library will not produce:
// a chunked body cut off inside a chunk, a connection reset in the middle of the body, a body
// that stops half-way until the test lets it go on.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace lumen::test {

// What follows the last byte the server sends.
enum class TRawEnd {
  Close,  // an orderly close (FIN)
  Reset,  // an abortive close (RST)
  Stall,  // nothing: the connection stays open until the server serves another reply or ends
};

struct TRawReply {
  std::string head;  // status line and headers, up to and including the blank line
  std::string body;  // everything after the head, sent as it is (chunk framing included)
  TRawEnd end = TRawEnd::Close;
  // When set, only this many body bytes go out until Release() is called; a test uses the pause
  // to look at a download in progress.
  size_t holdAt = std::string::npos;
  // When set, the body goes out in pieces of this many bytes with `pause` between them, so that
  // a download lasts long enough for a person (or a screenshot) to watch it.
  size_t piece = 0;
  std::chrono::milliseconds pause{0};

  // A complete reply with the given status and a Content-Length that matches the body.
  static TRawReply Complete(std::string body, int status = 200);
  // A reply that announces `announced` bytes, sends `body` (fewer) and then ends with `end`.
  static TRawReply Short(std::string body, size_t announced, TRawEnd end);
  // The body in chunked encoding, in chunks of at most `chunk` bytes. `cutAt`, when set, stops
  // the encoded stream after that many encoded bytes (inside a chunk or its framing), without the
  // final chunk, and closes.
  static TRawReply Chunked(const std::string& body, size_t chunk, size_t cutAt = std::string::npos);
};

class TRawHttpServer {
 public:
  // Listens on an ephemeral port before returning; answers with `reply` until Serve changes it.
  // A connection that stalls holds up the next ones until Serve or destruction ends it.
  // `port` 0 picks a free one; a fixed address and port serve a program whose server address is
  // built in. `address` is a dotted IPv4 loopback address.
  explicit TRawHttpServer(TRawReply reply, int port = 0, const std::string& address = "127.0.0.1");
  ~TRawHttpServer();
  TRawHttpServer(const TRawHttpServer&) = delete;
  TRawHttpServer& operator=(const TRawHttpServer&) = delete;

  void Serve(TRawReply reply);
  std::string Host() const;  // "<address>:<port>"

  // Waits until a reply has sent its bytes up to holdAt; false after `seconds` without that.
  bool WaitUntilHeld(int seconds = 15);
  // Lets every held reply, present and future, send the rest.
  void Release();
  // Requests that reached the server (their head was read in full).
  size_t Requests() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace lumen::test
