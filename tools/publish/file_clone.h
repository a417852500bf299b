// A copy of a file that shares no storage with it once either is written:
// a reflink where the file system offers one (the copy costs no space and
// no time until either file changes), else the bytes copied.
#pragma once

#include <filesystem>
#include <system_error>

namespace publish {

// Makes `to`, which must not exist yet, with the content of `from`. On
// failure `to` is not left behind.
bool cloneFile(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& error);

}  // namespace publish
