// A ZIP archive of one deflated entry, written in memory: what an update server publishes. The
// writer keeps to the plainest form every reader knows: no Zip64, no data descriptor, no
// encryption, no extra fields.
#pragma once

#include <cstdint>
#include <ctime>
#include <string_view>
#include <vector>

namespace lumen::tools {

// The archive bytes holding content under entryName (ASCII, "/" as separator), stamped with
// modified (local time, clamped to the years a ZIP time can hold). Raises std::length_error when
// the content or the archive would need Zip64 sizes, and std::runtime_error when zlib fails.
std::vector<uint8_t> WriteSingleEntryArchive(std::string_view entryName,
                                             const std::vector<uint8_t>& content,
                                             std::time_t modified);

}  // namespace lumen::tools
