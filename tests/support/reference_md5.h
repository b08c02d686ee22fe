// MD5 for checking results, from OpenSSL rather than the project's own digest module.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumen::test {

// 32 lower-case hex digits.
std::string ReferenceMd5Hex(std::string_view bytes);
std::string ReferenceMd5Hex(const std::vector<uint8_t>& bytes);

}  // namespace lumen::test
