// Registry export files for tests: the current user's registry on POSIX is
// such a file, named by GLIMMERHOLD_REGISTRY_FILE.
//
//   TempDir dir;
//   RegFileWriter().key().text("InstallPath", dir.str()).write(dir / "user.reg");
//   RegistryFileEnv registry(dir / "user.reg");
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "support/scoped_env.h"

namespace testsupport {

constexpr const char* kSettingsKeyPath = "HKEY_CURRENT_USER\\Software\\Quarvo\\Glimmerhold";

// Builds a file the way the registry editor writes one: CRLF line ends, long
// hex data wrapped onto continuation lines. Names and texts are given as
// UTF-8; an empty value name is the default value ("@").
class RegFileWriter {
 public:
  enum class Format {
    Unicode,  // "Windows Registry Editor Version 5.00", UTF-16LE with a BOM
    Ansi,     // "REGEDIT4", narrow bytes
  };

  explicit RegFileWriter(Format format = Format::Unicode);

  // A blank line and the section "[path]".
  RegFileWriter& key(const std::string& path = kSettingsKeyPath);
  // "name"="value" (REG_SZ), with "\" and the quote escaped.
  RegFileWriter& text(const std::string& name, const std::string& value);
  // "name"=hex(2):... (REG_EXPAND_SZ) with the terminating 0: UTF-16LE units
  // in a Unicode file, narrow bytes in an Ansi one.
  RegFileWriter& expandText(const std::string& name, const std::string& value);
  // "name"=dword:xxxxxxxx.
  RegFileWriter& dword(const std::string& name, std::uint32_t value);
  // "name"=hex:... for REG_BINARY (3), "name"=hex(type):... for other types.
  RegFileWriter& hex(const std::string& name, std::uint32_t type, const std::string& bytes);
  // Any line, as it stands (CRLF is added).
  RegFileWriter& line(const std::string& raw);

  // The file's bytes in its format's encoding.
  std::string bytes() const;
  void write(const std::filesystem::path& file) const;

 private:
  Format format_;
  std::string text_;  // UTF-8
};

// UTF-8 to UTF-16LE bytes.
std::string utf16le(const std::string& utf8);

// GLIMMERHOLD_REGISTRY_FILE names `file` while this lives.
class RegistryFileEnv {
 public:
  explicit RegistryFileEnv(const std::filesystem::path& file) : env_("GLIMMERHOLD_REGISTRY_FILE", file.string()) {}

 private:
  ScopedEnv env_;
};

// The settings an installer leaves: "InstallPath" as REG_SZ and, when not
// empty, the language, in a Unicode file.
void writeInstallationSettings(const std::filesystem::path& file, const std::string& installPath,
                               const std::string& language = "");

}  // namespace testsupport
