// CRC-32 of the ZIP format (reflected polynomial 0xEDB88320).
// Crc32Update works on the running register: start it at 0xFFFFFFFF, feed the bytes in any number
// of pieces, and complement the result at the end. Crc32Of does all three for one buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumen {

inline constexpr uint32_t kCrc32Initial = 0xFFFFFFFF;

uint32_t Crc32Update(uint32_t crc, const uint8_t* p, size_t n) noexcept;
uint32_t Crc32Of(const uint8_t* p, size_t n) noexcept;

// One byte into the register, the step the traditional PKWARE cipher builds its keys from.
uint32_t Crc32Byte(uint32_t crc, uint8_t b) noexcept;

}  // namespace lumen
