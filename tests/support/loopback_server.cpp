// Loopback HTTP server for tests, on cpp-httplib. Requests are recorded before routing, so a
// path the server does not know (a redirect's target, say) is still seen to have been asked.
#include "tests/support/loopback_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace lumen::test {

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::string TRecordedRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (SameName(key, name)) return value;
  }
  return "";
}

size_t TRecordedRequest::HeaderCount(const std::string& name) const {
  size_t count = 0;
  for (const auto& entry : headers) count += SameName(entry.first, name) ? 1 : 0;
  return count;
}

struct TLoopbackServer::TImpl {
  httplib::Server server;
  std::thread thread;
  int port = 0;

  mutable std::mutex mutex;
  std::condition_variable released;
  bool stopping = false;
  std::map<std::string, TReply> replies;
  std::vector<TRecordedRequest> requests;

  void Answer(const httplib::Request& request, httplib::Response& response) {
    TReply reply;
    {
      std::lock_guard lock(mutex);
      const auto it = replies.find(request.path);
      if (it == replies.end()) {
        response.status = 404;
        response.set_content("not here", "text/plain");
        return;
      }
      reply = it->second;
    }
    response.status = reply.status;
    std::string contentType = "application/octet-stream";
    for (const auto& [name, value] : reply.headers) {
      if (SameName(name, "Content-Type")) {
        contentType = value;
      } else {
        response.set_header(name.c_str(), value);
      }
    }
    auto body = std::make_shared<const std::string>(std::move(reply.body));
    switch (reply.mode) {
      case TBodyMode::Complete:
        response.set_content(*body, contentType.c_str());
        break;
      case TBodyMode::Chunked:
        // Two chunks, so a reader sees the body arrive in more than one piece.
        response.set_chunked_content_provider(
            contentType, [body](size_t offset, httplib::DataSink& sink) {
              if (offset < body->size()) {
                const size_t piece = offset == 0 ? (body->size() + 1) / 2 : body->size() - offset;
                sink.write(body->data() + offset, piece);
              } else {
                sink.done();
              }
              return true;
            });
        break;
      case TBodyMode::Close:
      case TBodyMode::Stall: {
        const bool stall = reply.mode == TBodyMode::Stall;
        response.set_content_provider(
            reply.announcedLength, contentType,
            [this, body, stall](size_t offset, size_t, httplib::DataSink& sink) {
              if (offset < body->size()) {
                sink.write(body->data() + offset, body->size() - offset);
                return true;
              }
              if (stall) {
                std::unique_lock lock(mutex);
                released.wait(lock, [this] { return stopping; });
              }
              return false;  // drops the connection short of the announced length
            });
        break;
      }
    }
  }
};

TLoopbackServer::TLoopbackServer() : impl_(std::make_unique<TImpl>()) {
  TImpl& impl = *impl_;
  // One request per connection and a short idle wait, so shutting down never waits on a client
  // that keeps its connection open.
  impl.server.set_keep_alive_max_count(1);
  impl.server.set_keep_alive_timeout(1);
  impl.server.set_pre_routing_handler([&impl](const httplib::Request& request, httplib::Response&) {
    TRecordedRequest record{request.method, request.path, request.version, {}};
    for (const auto& header : request.headers) record.headers.insert(header);
    std::lock_guard lock(impl.mutex);
    impl.requests.push_back(std::move(record));
    return httplib::Server::HandlerResponse::Unhandled;
  });
  impl.server.Get(".*", [&impl](const httplib::Request& request, httplib::Response& response) {
    impl.Answer(request, response);
  });
  // Binding also listens, so clients may connect before the accept loop below has started.
  impl.port = impl.server.bind_to_any_port("127.0.0.1");
  if (impl.port <= 0) throw std::runtime_error("loopback server: cannot bind 127.0.0.1");
  impl.thread = std::thread([&impl] { impl.server.listen_after_bind(); });
  // A stop that comes before the accept loop has started would be lost and the loop would run
  // for good, so the server counts as started only once the loop runs.
  while (!impl.server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TLoopbackServer::~TLoopbackServer() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->released.notify_all();
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

int TLoopbackServer::Port() const {
  return impl_->port;
}

std::string TLoopbackServer::Host() const {
  return "127.0.0.1:" + std::to_string(Port());
}

std::string TLoopbackServer::Url(const std::string& path) const {
  return "http://" + Host() + path;
}

void TLoopbackServer::Serve(const std::string& path, TReply reply) {
  std::lock_guard lock(impl_->mutex);
  impl_->replies[path] = std::move(reply);
}

void TLoopbackServer::ServeRedirect(const std::string& path, const std::string& location,
                                    int status) {
  Serve(path, {.status = status, .body = "moved", .headers = {{"Location", location}}});
}

std::vector<TRecordedRequest> TLoopbackServer::Requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

size_t TLoopbackServer::RequestCount(const std::string& path) const {
  size_t count = 0;
  for (const TRecordedRequest& request : Requests()) count += request.path == path ? 1 : 0;
  return count;
}

TRefusingPort::TRefusingPort() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("refusing port: no socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd_);
    throw std::runtime_error(std::string("refusing port: ") + std::strerror(errno));
  }
  port_ = ntohs(address.sin_port);
}

TRefusingPort::~TRefusingPort() {
  ::close(fd_);
}

std::string TRefusingPort::Host() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::string TRefusingPort::Url(const std::string& path) const {
  return "http://" + Host() + path;
}

}  // namespace lumen::test
