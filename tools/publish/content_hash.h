// The version token of a file: its content's SHA-256, in lower-case hex, cut
// to the 32 bytes a list's version field holds. An unchanged file keeps its
// token from release to release; a changed one gets another (128 bits of a
// cryptographic hash leave no practical chance of a repeat).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace publish {

struct ContentHash {
  std::string token;       // 32 hex digits; empty when the file could not be read
  std::uint64_t size = 0;  // the bytes hashed
  std::string error;       // why it could not be read
};

// Reads the file in bounded chunks, so a file of any size is hashed in a
// fixed amount of memory.
ContentHash hashFile(const std::filesystem::path& path);

// The token of bytes held in memory, for comparing with hashFile.
std::string hashBytes(std::string_view bytes);

}  // namespace publish
