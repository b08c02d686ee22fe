// Scripted-bytes HTTP server for fault tests. One connection at a time, on one thread: the
// faults it plays (a stalled body, a held body) would only be muddied by concurrency.
#include "tests/support/raw_http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace lumen::test {

namespace {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int Get() const { return fd_; }

 private:
  int fd_;
};

std::string Head(int status, const std::string& headers) {
  const char* reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Status";
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" + headers +
         "Connection: close\r\n\r\n";
}

// Sends everything it can; a client that went away is not the server's failure.
bool SendAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t put = ::send(fd, p, n, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

}  // namespace

TRawReply TRawReply::Complete(std::string body, int status) {
  TRawReply reply;
  reply.head = Head(status, "Content-Length: " + std::to_string(body.size()) + "\r\n");
  reply.body = std::move(body);
  return reply;
}

TRawReply TRawReply::Short(std::string body, size_t announced, TRawEnd end) {
  TRawReply reply;
  reply.head = Head(200, "Content-Length: " + std::to_string(announced) + "\r\n");
  reply.body = std::move(body);
  reply.end = end;
  return reply;
}

TRawReply TRawReply::Chunked(const std::string& body, size_t chunk, size_t cutAt) {
  TRawReply reply;
  reply.head = Head(200, "Transfer-Encoding: chunked\r\n");
  for (size_t at = 0; at < body.size(); at += chunk) {
    const size_t n = std::min(chunk, body.size() - at);
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", n);
    reply.body += size;
    reply.body.append(body, at, n);
    reply.body += "\r\n";
  }
  if (cutAt == std::string::npos) {
    reply.body += "0\r\n\r\n";
  } else {
    reply.body.resize(std::min(cutAt, reply.body.size()));
  }
  return reply;
}

struct TRawHttpServer::TImpl {
  Fd listener;
  int wake[2] = {-1, -1};  // written to on shutdown, so poll returns
  int port = 0;
  std::string address;
  bool fixedPort = false;
  std::thread thread;

  mutable std::mutex mutex;
  std::condition_variable changed;
  TRawReply reply;
  bool stopping = false;
  bool released = false;
  bool held = false;
  size_t requests = 0;
  size_t generation = 0;  // counts Serve calls; a new reply ends a stalled connection

  // Waits for the fd to become readable; false on shutdown.
  bool WaitReadable(int fd) const {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0) {
      if (errno != EINTR) return false;
    }
    return (fds[1].revents & POLLIN) == 0;
  }

  void Loop() {
    for (;;) {
      if (!WaitReadable(listener.Get())) return;
      Fd client(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (client.Get() < 0) continue;
      Answer(client);
    }
  }

  // Body bytes [from, to), paced when the reply asks for it; false when the client went away or
  // the server is shutting down.
  bool SendBody(int fd, const TRawReply& script, size_t from, size_t to) {
    const size_t piece = script.piece == 0 ? to - from : script.piece;
    for (size_t at = from; at < to; at += piece) {
      if (at != from && script.pause.count() > 0) {
        std::unique_lock lock(mutex);
        if (changed.wait_for(lock, script.pause, [this] { return stopping; })) return false;
      }
      if (!SendAll(fd, script.body.data() + at, std::min(piece, to - at))) return false;
    }
    return true;
  }

  // On a fixed address the side that closes first keeps the address in TIME_WAIT for a minute,
  // and other tests' servers cannot bind it meanwhile: let the client close first when it will
  // (it does after a complete reply), for a bounded time.
  void AwaitClientClose(int fd) const {
    char sink[4096];
    for (;;) {
      pollfd fds[2] = {{fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
      const int ready = ::poll(fds, 2, 5000);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0 || (fds[1].revents & POLLIN) != 0) return;
      if (::recv(fd, sink, sizeof sink, 0) <= 0) return;
    }
  }

  void Answer(Fd& client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      if (!WaitReadable(client.Get())) return;
      const ssize_t got = ::recv(client.Get(), buffer, sizeof buffer, 0);
      if (got <= 0) return;
      request.append(buffer, static_cast<size_t>(got));
    }
    TRawReply script;
    size_t served = 0;
    {
      std::lock_guard lock(mutex);
      ++requests;
      script = reply;
      served = generation;
    }
    const size_t first = std::min(script.holdAt, script.body.size());
    if (!SendAll(client.Get(), script.head.data(), script.head.size()) ||
        !SendBody(client.Get(), script, 0, first)) {
      return;
    }
    if (script.holdAt != std::string::npos) {
      std::unique_lock lock(mutex);
      held = true;
      changed.notify_all();
      changed.wait(lock, [this] { return released || stopping; });
      if (stopping) return;
    }
    if (!SendBody(client.Get(), script, first, script.body.size())) return;
    switch (script.end) {
      case TRawEnd::Close:
        if (fixedPort) AwaitClientClose(client.Get());
        break;
      case TRawEnd::Reset: {
        const linger abortive{1, 0};
        ::setsockopt(client.Get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        break;
      }
      case TRawEnd::Stall: {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stopping || generation != served; });
        break;
      }
    }
  }
};

TRawHttpServer::TRawHttpServer(TRawReply reply, int port, const std::string& address)
    : impl_(std::make_unique<TImpl>()) {
  TImpl& impl = *impl_;
  impl.reply = std::move(reply);
  impl.listener = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in socketAddress{};
  socketAddress.sin_family = AF_INET;
  if (::inet_pton(AF_INET, address.c_str(), &socketAddress.sin_addr) != 1) {
    throw std::runtime_error("raw HTTP server: bad address " + address);
  }
  socketAddress.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t length = sizeof socketAddress;
  const int reuse = 1;
  if (impl.listener.Get() < 0 ||
      ::setsockopt(impl.listener.Get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
      ::bind(impl.listener.Get(), reinterpret_cast<sockaddr*>(&socketAddress),
             sizeof socketAddress) != 0 ||
      ::listen(impl.listener.Get(), 16) != 0 ||
      ::getsockname(impl.listener.Get(), reinterpret_cast<sockaddr*>(&socketAddress), &length) !=
          0 ||
      ::pipe2(impl.wake, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("raw HTTP server: ") + std::strerror(errno));
  }
  impl.port = ntohs(socketAddress.sin_port);
  impl.address = address;
  impl.fixedPort = port != 0;
  impl.thread = std::thread([&impl] { impl.Loop(); });
}

TRawHttpServer::~TRawHttpServer() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->changed.notify_all();
  const char byte = 0;
  [[maybe_unused]] const ssize_t woke = ::write(impl_->wake[1], &byte, 1);
  impl_->thread.join();
  ::close(impl_->wake[0]);
  ::close(impl_->wake[1]);
}

void TRawHttpServer::Serve(TRawReply reply) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->reply = std::move(reply);
    ++impl_->generation;
  }
  impl_->changed.notify_all();
}

std::string TRawHttpServer::Host() const {
  return impl_->address + ":" + std::to_string(impl_->port);
}

bool TRawHttpServer::WaitUntilHeld(int seconds) {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, std::chrono::seconds(seconds),
                                 [this] { return impl_->held; });
}

void TRawHttpServer::Release() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->released = true;
  }
  impl_->changed.notify_all();
}

size_t TRawHttpServer::Requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

}  // namespace lumen::test
