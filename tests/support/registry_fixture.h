// Registry export files for tests: the current user's registry on POSIX is
// such a file, named by GLIMMERHOLD_REGISTRY_FILE. On Windows the same writer
// also puts its values into the real registry (see win32_registry.h), so the
// settings tests read what they wrote on both.
//
//   TempDir dir;
//   RegFileWriter().key().text("InstallPath", dir.str()).write(dir / "user.reg");
//   RegistryFileEnv registry(dir / "user.reg");
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

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
  // Writes the file; on Windows also replaces the settings in the registry.
  void write(const std::filesystem::path& file) const;

  // One value as the registry holds it. `wide` data is UTF-16LE (what a
  // Unicode file's hex data holds), otherwise narrow text or raw bytes.
  struct Entry {
    std::string keyPath;
    std::string name;
    std::uint32_t type;
    std::string data;
    bool wide;
  };
  // The values written so far, in order; raw lines are not among them.
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  Format format_;
  std::string text_;  // UTF-8
  std::string keyPath_;
  std::vector<Entry> entries_;
};

// UTF-8 to UTF-16LE bytes.
std::string utf16le(const std::string& utf8);

#if defined(_WIN32)
// The settings key is removed from the real registry while this lives, so
// every test starts from "not installed" and leaves nothing behind.
class RegistryFileEnv {
 public:
  explicit RegistryFileEnv(const std::filesystem::path& file);
  ~RegistryFileEnv();
  RegistryFileEnv(const RegistryFileEnv&) = delete;
  RegistryFileEnv& operator=(const RegistryFileEnv&) = delete;
};
#else
// GLIMMERHOLD_REGISTRY_FILE names `file` while this lives.
class RegistryFileEnv {
 public:
  explicit RegistryFileEnv(const std::filesystem::path& file) : env_("GLIMMERHOLD_REGISTRY_FILE", file.string()) {}

 private:
  ScopedEnv env_;
};
#endif

// The settings an installer leaves: "InstallPath" as REG_SZ and, when not
// empty, the language, in a Unicode file.
void writeInstallationSettings(const std::filesystem::path& file, const std::string& installPath,
                               const std::string& language = "");

}  // namespace testsupport
