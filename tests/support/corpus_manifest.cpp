// Reads the corpus manifest once per test run.
#include "tests/support/corpus_manifest.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace lumen::testing {

namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

struct Manifest {
  size_t declaredCount = 0;
  std::vector<ManifestArchive> archives;
};

Manifest Load() {
  const std::string path = std::string(LUMEN_CORPUS_DIR) + "/manifest.json";
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  const nlohmann::json manifest = nlohmann::json::parse(in);
  Manifest loaded;
  loaded.declaredCount = manifest.at("archive_count").get<size_t>();
  for (const auto& a : manifest.at("archives")) {
    ManifestArchive archive;
    archive.path = a.at("path").get<std::string>();
    archive.listingSource = a.at("listing_source").get<std::string>();
    for (const auto& e : a.at("entries")) {
      ManifestEntry entry;
      entry.nameBytes = FromHex(e.at("name_hex").get<std::string>());
      entry.nameGuess = e.at("name_utf8_guess").get<std::string>();
      entry.nameEncoding = e.at("name_encoding").get<std::string>();
      entry.isDir = e.at("is_dir").get<bool>();
      entry.size = e.at("size").is_number() ? e.at("size").get<uint64_t>() : 0;
      entry.compressedSize =
          e.at("compressed_size").is_number() ? e.at("compressed_size").get<uint64_t>() : 0;
      if (e.at("crc32").is_string()) entry.crc32 = e.at("crc32").get<std::string>();
      entry.method = e.at("method").is_number() ? e.at("method").get<int>() : -1;
      entry.dataMethod = entry.method;
      if (e.contains("aes") && e.at("aes").is_object() && e.at("aes").contains("actual_method")) {
        entry.dataMethod = e.at("aes").at("actual_method").get<int>();
      }
      // false, or the kind of encryption ("zipcrypto", "aes-256", "strong", ...).
      entry.encrypted = !e.at("encrypted").is_boolean() || e.at("encrypted").get<bool>();
      entry.intact = e.at("intact").is_boolean() && e.at("intact").get<bool>();
      entry.disputed = e.at("intact") == "disputed";
      if (e.at("md5_of_content").is_string()) entry.md5 = e.at("md5_of_content");
      if (e.at("password").is_string()) entry.password = e.at("password");
      archive.entries.push_back(std::move(entry));
    }
    loaded.archives.push_back(std::move(archive));
  }
  return loaded;
}

const Manifest& TheManifest() {
  static const Manifest manifest = Load();
  return manifest;
}

}  // namespace

const std::vector<ManifestArchive>& CorpusManifest() {
  return TheManifest().archives;
}

size_t CorpusManifestDeclaredCount() {
  return TheManifest().declaredCount;
}

const ManifestArchive& ManifestFor(const std::string& path) {
  for (const ManifestArchive& a : CorpusManifest()) {
    if (a.path == path) return a;
  }
  throw std::out_of_range("no manifest entry for " + path);
}

}  // namespace lumen::testing
