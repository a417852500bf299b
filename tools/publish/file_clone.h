// A copy of a file that shares no storage with it once either is written:
// a reflink where the file system offers one (the copy costs no space and
// no time until either file changes), else the bytes copied.
#pragma once

#include <filesystem>
#include <system_error>

namespace publish {

// Makes `to`, which must not exist yet, with the content of `from`. On
// failure `to` is not left behind. `reflinked`, when given, tells whether the
// copy shares the storage of `from` (a reflink) or holds bytes of its own.
bool cloneFile(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& error,
               bool* reflinked = nullptr);

}  // namespace publish
