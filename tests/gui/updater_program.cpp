// The shared parts of the updater program's end-to-end tests.
#include "updater_program.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace lumen::gui {

ReleaseServer::ReleaseServer() {
  server_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
    std::lock_guard lock(mutex_);
    ++requests_[request.path];
    return httplib::Server::HandlerResponse::Unhandled;
  });
  // Bound and listening before the constructor returns, so the program can connect at once.
  if (!server_.bind_to_port(LUMEN_E2E_ADDRESS, LUMEN_E2E_PORT))
    throw std::runtime_error("cannot listen on " LUMEN_E2E_ADDRESS);
  thread_ = std::thread([this] { server_.listen_after_bind(); });
}

ReleaseServer::~ReleaseServer() {
  server_.stop();
  thread_.join();
}

void ReleaseServer::Serve(const std::string& path, std::string body, const char* type) {
  server_.Get(path,
              [body = std::move(body), type](const httplib::Request&, httplib::Response& response) {
                response.set_content(body, type);
              });
}

int ReleaseServer::Requests(const std::string& path) {
  std::lock_guard lock(mutex_);
  return requests_[path];
}

RefusedAddress::RefusedAddress() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(LUMEN_E2E_PORT);
  inet_pton(AF_INET, LUMEN_E2E_ADDRESS, &address.sin_addr);
  // The previous test's connections may still linger on the address; a listener could not.
  const int yes = 1;
  if (fd_ >= 0) setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd_ >= 0) close(fd_);
    throw std::runtime_error("cannot hold " LUMEN_E2E_ADDRESS);
  }
}

RefusedAddress::~RefusedAddress() {
  close(fd_);
}

void UpdaterProgramTest::SetUp() {
  if (!ProgramAvailable("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  display_ = std::make_unique<test::ScopedXvfb>();
  x_ = std::make_unique<XClient>(display_->DisplayName());
  // The updater works on the Lumen_Courier.exe in its own folder.
  std::filesystem::copy_file(LUMEN_E2E_UPDATER, dir_ / "lumen-updater");
  std::filesystem::copy_file(LUMEN_SAMPLE_V1, dir_ / "Lumen_Courier.exe");
}

void UpdaterProgramTest::TearDown() {
  // A picture of the screen tells what the program showed instead of what was expected.
  if (HasFailure() && display_) {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');
    Screenshot(Display(), std::string(LUMEN_BINARY_DIR) + "/tests/gui/failure-" + name + ".png");
  }
}

std::unique_ptr<ChildProcess> UpdaterProgramTest::StartUpdater() {
  return std::make_unique<ChildProcess>(std::vector<std::string>{dir_ / "lumen-updater"}, Display(),
                                        dir_.Path());
}

void UpdaterProgramTest::Confirm(const std::string& boxTitle) {
  const unsigned long box = x_->WaitFor(boxTitle);
  PressKeys(Display(), box, {"Return"});
  ASSERT_TRUE(x_->WaitGone(boxTitle)) << "Enter did not close the box";
}

void UpdaterProgramTest::CheckAndExpect(unsigned long window, const std::string& boxTitle) {
  ClickAt(Display(), *x_, window, kCheckX, kButtonY);
  Confirm(boxTitle);
}

}  // namespace lumen::gui
