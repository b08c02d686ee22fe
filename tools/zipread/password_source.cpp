// Answers to the archiver's password requests. The archiver asks again for as long as the answer
// is wrong, so every path here either ends with a skip or stays within a few attempts.
#include "tools/zipread/password_source.h"

#include "platform/codepage.h"
#include "tools/zipread/terminal_prompt.h"

namespace lumen::tools {

namespace {

// Enough for a typing slip; a script that loops on a wrong password would otherwise never end.
constexpr int kMaxAttempts = 3;

}  // namespace

TPasswordSource::TPasswordSource(std::optional<std::string> given, bool interactive)
    : given_(std::move(given)), interactive_(interactive) {}

void TPasswordSource::Attach(TZABaseArchiver& archiver) {
  // Passwords are 8-bit text in the updater's code page, as its own prompt would deliver them;
  // the command line and the terminal give UTF-8.
  if (given_) archiver.SetPassword(Utf8ToAnsi(*given_));
  archiver.OnPassword = [this](TZABaseArchiver&, const std::u16string& fileName,
                               std::string& newPassword,
                               bool& skipFile) { Answer(fileName, newPassword, skipFile); };
}

void TPasswordSource::BeginEntry() {
  attempts_ = 0;
  refusal_.clear();
}

void TPasswordSource::Answer(const std::u16string& entryName, std::string& password, bool& skip) {
  skip = true;
  if (given_) {
    refusal_ = "wrong password";
    return;
  }
  if (!interactive_) {
    refusal_ = "encrypted; give the password with -p";
    return;
  }
  if (attempts_ >= kMaxAttempts) {
    refusal_ = "wrong password";
    return;
  }
  const std::string prompt = std::string(attempts_ > 0 ? "Wrong password. " : "") +
                             "Password for " + WideToUtf8(entryName) + ": ";
  ++attempts_;
  const std::optional<std::string> typed = ReadSecretLine(prompt);
  if (!typed || typed->empty()) {
    refusal_ = "no password given";
    return;
  }
  password = Utf8ToAnsi(*typed);
  skip = false;
}

}  // namespace lumen::tools
