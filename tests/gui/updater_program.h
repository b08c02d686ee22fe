// What the end-to-end tests of the updater program share: a private screen, a folder holding
// the program and an old Lumen_Courier.exe, the update server on the address this build of the
// program is fixed to, and the person's moves (clicks and Enter on boxes found by title).
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/scratch_dir.h"
#include "tests/support/xvfb.h"
#include "x_session.h"

namespace lumen::gui {

inline constexpr const char* kWindowTitle = "Модуль обновления";
inline constexpr const char* kInformation = "Информация";
inline constexpr const char* kAttention = "Внимание";
inline constexpr const char* kDigestPath = "/quorvale/update.md5";
inline constexpr const char* kArchivePath = "/quorvale/Lumen_Courier.zip";
inline constexpr const char* kCompanionTitle = "Lumen_courier";
// The middle of "Проверить наличие обновлений", in the window's coordinates.
inline constexpr int kCheckX = 8 + 209 / 2;
inline constexpr int kButtonY = 32 + 25 / 2;

// The update server on the address this build of the updater is fixed to.
class ReleaseServer {
 public:
  ReleaseServer();  // throws std::runtime_error when the address is taken
  ~ReleaseServer();
  ReleaseServer(const ReleaseServer&) = delete;
  ReleaseServer& operator=(const ReleaseServer&) = delete;
  void Serve(const std::string& path, std::string body, const char* type);
  int Requests(const std::string& path);

 private:
  httplib::Server server_;
  std::thread thread_;
  std::mutex mutex_;
  std::map<std::string, int> requests_;
};

// The server's address with nothing listening: the port is held, so a connection is refused at
// once and no other program can answer in its place.
class RefusedAddress {
 public:
  RefusedAddress();
  ~RefusedAddress();
  RefusedAddress(const RefusedAddress&) = delete;
  RefusedAddress& operator=(const RefusedAddress&) = delete;

 private:
  int fd_;
};

class UpdaterProgramTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const std::string& Display() const { return display_->DisplayName(); }
  std::unique_ptr<ChildProcess> StartUpdater();
  // Answers the box with that title with Enter, its first button.
  void Confirm(const std::string& boxTitle);
  // Presses the check button and answers the box it brings with Enter.
  void CheckAndExpect(unsigned long window, const std::string& boxTitle);

  test::ScratchDir dir_;
  std::unique_ptr<test::ScopedXvfb> display_;
  std::unique_ptr<XClient> x_;
};

}  // namespace lumen::gui
