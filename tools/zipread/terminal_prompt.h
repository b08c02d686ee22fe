// Reading a secret from the terminal without echoing it.
#pragma once

#include <optional>
#include <string>

namespace lumen::tools {

// True when standard input is a terminal someone could type into.
bool StdinIsTerminal();

// Shows prompt on the terminal and reads one line from standard input with echo off; the
// terminal's settings are restored afterwards, also when the read is interrupted. Returns nothing
// at end of input.
std::optional<std::string> ReadSecretLine(const std::string& prompt);

}  // namespace lumen::tools
