// Reads manifest.json of the corpus once and answers per archive.
#include "corpus_manifest.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "tool_runner.h"

namespace lumen::test {

namespace {

const nlohmann::json& Manifest() {
  static const nlohmann::json manifest = [] {
    std::ifstream in(CorpusPath("manifest.json"));
    if (!in) throw std::runtime_error("cannot read the corpus manifest");
    return nlohmann::json::parse(in);
  }();
  return manifest;
}

}  // namespace

std::vector<TManifestEntry> ManifestEntries(const std::string& archivePath) {
  for (const auto& archive : Manifest().at("archives")) {
    if (archive.at("path").get<std::string>() != archivePath) continue;
    std::vector<TManifestEntry> entries;
    for (const auto& e : archive.at("entries")) {
      TManifestEntry entry;
      entry.name = e.at("name_utf8_guess").get<std::string>();
      entry.method = e.at("method").get<int>();
      entry.size = e.at("size").get<uint64_t>();
      entry.compressedSize = e.at("compressed_size").get<uint64_t>();
      entry.crc32 = e.at("crc32").get<std::string>();
      entry.encrypted = !e.at("encrypted").is_boolean() || e.at("encrypted").get<bool>();
      entry.isDir = e.at("is_dir").get<bool>();
      if (e.at("md5_of_content").is_string()) entry.md5 = e.at("md5_of_content").get<std::string>();
      entries.push_back(std::move(entry));
    }
    return entries;
  }
  throw std::runtime_error(archivePath + " is not in the corpus manifest");
}

}  // namespace lumen::test
