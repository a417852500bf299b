// The POSIX registry: a registry export file read through the narrow-character
// registry seam.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "platform/registry.h"
#include "support/registry_fixture.h"
#include "support/temp_dir.h"

using namespace testsupport;
using platform::RegistryKey;

namespace {

constexpr const char* kSubKey = "Software\\Quarvo\\Glimmerhold";

struct Query {
  std::uint32_t type = 0;
  std::string name;
  std::string data;
  long status = -1;
};

long openSettings(RegistryKey& key) { return RegistryKey::openCurrentUser(kSubKey, platform::kKeyRead, key); }

Query query(const RegistryKey& key, const char* name) {
  Query q;
  unsigned char buffer[4096];
  std::uint32_t size = sizeof buffer;
  q.status = key.queryValue(name, &q.type, buffer, &size);
  if (q.status == platform::kErrorSuccess) q.data.assign(reinterpret_cast<char*>(buffer), size);
  return q;
}

// Opens the settings key of `file` and queries one value.
Query queryIn(const std::string& fileBytes, const char* name) {
  TempDir dir;
  writeFile(dir / "user.reg", fileBytes);
  RegistryFileEnv env(dir / "user.reg");
  RegistryKey key;
  long opened = openSettings(key);
  if (opened != platform::kErrorSuccess) return Query{0, name != nullptr ? name : "", "", opened};
  return query(key, name);
}

std::string withZero(const std::string& text) { return text + std::string(1, '\0'); }

// ASCII to UTF-16LE, written out by hand so that the reader is not checked
// against the fixture's own encoder.
std::string wide(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

}  // namespace

TEST(RegistryFile, UnicodeExportGivesEveryTypeNarrow) {
  RegFileWriter writer;
  writer.key()
      .text("InstallPath", "C:\\Games\\\"Glimmer\"hold")
      .expandText("Expand", "%HOMEDRIVE%\\Spiel \xC3\xA9t\xC3\xA9")
      .dword("Number", 0x1234abcd)
      .hex("Raw", platform::kRegBinary, std::string("\x00\xff\x10", 3))
      .hex("Multi", platform::kRegMultiSz, utf16le("a") + std::string(2, '\0') + utf16le("b") + std::string(4, '\0'))
      .hex("Big", platform::kRegQword, std::string(8, '\x01'))
      .text("", "default");
  std::string file = writer.bytes();

  const Query expected[] = {
      {platform::kRegSz, "InstallPath", withZero("C:\\Games\\\"Glimmer\"hold")},
      {platform::kRegExpandSz, "Expand", withZero("%HOMEDRIVE%\\Spiel \xC3\xA9t\xC3\xA9")},
      {platform::kRegDword, "Number", std::string("\xcd\xab\x34\x12", 4)},
      {platform::kRegBinary, "Raw", std::string("\x00\xff\x10", 3)},
      {platform::kRegMultiSz, "Multi", std::string("a\0b\0\0", 5)},
      {platform::kRegQword, "Big", std::string(8, '\x01')},
  };
  for (const Query& want : expected) {
    Query got = queryIn(file, want.name.c_str());
    EXPECT_EQ(got.status, platform::kErrorSuccess) << want.name;
    EXPECT_EQ(got.type, want.type) << want.name;
    EXPECT_EQ(got.data, want.data) << want.name;
  }
  EXPECT_EQ(queryIn(file, "").data, withZero("default"));
  EXPECT_EQ(queryIn(file, nullptr).data, withZero("default"));
}

TEST(RegistryFile, Regedit4FileKeepsNarrowBytes) {
  RegFileWriter writer(RegFileWriter::Format::Ansi);
  writer.key()
      .text("InstallPath",
            "/srv/gl\xC3\xBC"
            "ck")
      .expandText("Expand", "%HOME%/games");
  std::string file = writer.bytes();
  EXPECT_EQ(file.substr(0, 10), "REGEDIT4\r\n");
  EXPECT_EQ(queryIn(file, "InstallPath").data, withZero("/srv/gl\xC3\xBC"
                                                        "ck"));
  Query expand = queryIn(file, "Expand");
  EXPECT_EQ(expand.type, platform::kRegExpandSz);
  EXPECT_EQ(expand.data, withZero("%HOME%/games"));

  // LF line ends, a hex continuation, blanks and a comment.
  std::string lf =
      "REGEDIT4\n\n; written by hand\n[hkey_current_user\\software\\quarvo\\GLIMMERHOLD]\n"
      "\"Path\" = hex(2):2f,61,\\\n    62,00\n\"After\"=\"x\"\n";
  EXPECT_EQ(queryIn(lf, "Path").data, withZero("/ab"));
  EXPECT_EQ(queryIn(lf, "after").data, withZero("x"));
}

TEST(RegistryFile, HandWrittenUtf16FileConvertsToUtf8) {
  std::string file = "\xFF\xFE" +
                     wide("Windows Registry Editor Version 5.00\r\n\r\n[" + std::string(kSettingsKeyPath) +
                          "]\r\n\"InstallPath\"=\"") +
                     std::string("\xE9\x00\xAC\x20\x3D\xD8\x00\xDE\x00\xD8", 10) + wide("x\"\r\n") +
                     wide("\"Expand\"=hex(2):41,00,e9,00,00,00\r\n");
  // é, €, U+1F600, then a high surrogate with no partner.
  EXPECT_EQ(queryIn(file, "InstallPath").data, withZero("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBDx"));
  EXPECT_EQ(queryIn(file, "Expand").data, withZero("A\xC3\xA9"));
  // The same file without its BOM, and cut in the middle of a code unit.
  EXPECT_EQ(queryIn(file.substr(2), "Expand").data, withZero("A\xC3\xA9"));
  EXPECT_EQ(queryIn(file + "\x41", "Expand").data, withZero("A\xC3\xA9"));
}

TEST(RegistryFile, QueryFollowsRegQueryValueEx) {
  TempDir dir;
  RegFileWriter().key().text("InstallPath", "abcdef").write(dir / "user.reg");
  RegistryFileEnv env(dir / "user.reg");
  RegistryKey key;
  ASSERT_EQ(openSettings(key), platform::kErrorSuccess);
  ASSERT_TRUE(key.isOpen());

  unsigned char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  std::uint32_t type = 99;
  std::uint32_t size = 6;  // one short: the terminating 0 counts
  EXPECT_EQ(key.queryValue("InstallPath", &type, buffer, &size), platform::kErrorMoreData);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(buffer[6], '#');

  size = 7;
  EXPECT_EQ(key.queryValue("INSTALLPATH", &type, buffer, &size), platform::kErrorSuccess);
  EXPECT_EQ(type, platform::kRegSz);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), "abcdef");

  size = 0;
  EXPECT_EQ(key.queryValue("InstallPath", nullptr, nullptr, &size), platform::kErrorSuccess);
  EXPECT_EQ(size, 7u);
  EXPECT_NE(key.queryValue("InstallPath", &type, buffer, nullptr), platform::kErrorSuccess);

  size = sizeof buffer;
  EXPECT_EQ(key.queryValue("Missing", &type, buffer, &size), platform::kErrorFileNotFound);
  EXPECT_EQ(key.queryValue("", &type, buffer, &size), platform::kErrorFileNotFound);

  RegistryKey moved = std::move(key);
  EXPECT_FALSE(key.isOpen());
  EXPECT_EQ(query(moved, "InstallPath").data, withZero("abcdef"));
  EXPECT_NE(key.queryValue("InstallPath", &type, buffer, &size), platform::kErrorSuccess);

  RegistryKey writable;
  EXPECT_EQ(RegistryKey::openCurrentUser(kSubKey, 0x20006, writable), platform::kErrorAccessDenied);
  EXPECT_FALSE(writable.isOpen());
}

TEST(RegistryFile, KeyExistsOnlyAsAnImportWouldLeaveIt) {
  auto opens = [](const std::string& body) {
    TempDir dir;
    writeFile(dir / "user.reg", "REGEDIT4\r\n" + body);
    RegistryFileEnv env(dir / "user.reg");
    RegistryKey key;
    return openSettings(key);
  };
  const std::string key = std::string("[") + kSettingsKeyPath + "]\r\n";
  EXPECT_EQ(opens(key), platform::kErrorSuccess);
  EXPECT_EQ(opens("[HKEY_CURRENT_USER\\Software\\Quarvo\\Glimmerhold\\Sub]\r\n"), platform::kErrorSuccess);
  EXPECT_EQ(opens("[HKEY_CURRENT_USER\\Software\\Quarvo\\GlimmerholdX]\r\n"), platform::kErrorFileNotFound);
  EXPECT_EQ(opens("[HKEY_CURRENT_USER\\Software\\Quarvo]\r\n"), platform::kErrorFileNotFound);
  EXPECT_EQ(opens("[HKEY_LOCAL_MACHINE\\Software\\Quarvo\\Glimmerhold]\r\n"), platform::kErrorFileNotFound);
  EXPECT_EQ(opens(key + "[-HKEY_CURRENT_USER\\Software\\Quarvo]\r\n"), platform::kErrorFileNotFound);
  EXPECT_EQ(opens(key + "[-HKEY_CURRENT_USER\\Software\\Quarvo\\Glimmerhold\\Sub]\r\n"), platform::kErrorSuccess);
  EXPECT_EQ(opens("[-" + std::string(kSettingsKeyPath) + "]\r\n" + key), platform::kErrorSuccess);
  EXPECT_EQ(opens(std::string("[") + kSettingsKeyPath + "\r\n"), platform::kErrorFileNotFound);

  // Sections add up; later lines replace earlier ones; "=-" and a deletion
  // of the key remove values.
  std::string file = RegFileWriter()
                         .key()
                         .text("A", "1")
                         .text("B", "1")
                         .text("C", "1")
                         .key("HKEY_CURRENT_USER\\Software\\Other")
                         .text("A", "other")
                         .key()
                         .text("a", "2")
                         .line("\"B\"=-")
                         .bytes();
  EXPECT_EQ(queryIn(file, "A").data, withZero("2"));
  EXPECT_EQ(queryIn(file, "B").status, platform::kErrorFileNotFound);
  EXPECT_EQ(queryIn(file, "C").data, withZero("1"));
  std::string recreated = RegFileWriter()
                              .key()
                              .text("A", "1")
                              .line("[-" + std::string(kSettingsKeyPath) + "]")
                              .key()
                              .text("D", "4")
                              .bytes();
  EXPECT_EQ(queryIn(recreated, "A").status, platform::kErrorFileNotFound);
  EXPECT_EQ(queryIn(recreated, "D").data, withZero("4"));
}

TEST(RegistryFile, FileIsFoundThroughTheEnvironmentAndReadAtEachOpen) {
  TempDir dir;
  ScopedEnv noOverride("GLIMMERHOLD_REGISTRY_FILE", std::nullopt);
  {
    ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").string());
    RegFileWriter().key().text("Where", "xdg").write(dir / "config/Quarvo/Glimmerhold.reg");
    RegistryKey key;
    ASSERT_EQ(openSettings(key), platform::kErrorSuccess);
    EXPECT_EQ(query(key, "Where").data, withZero("xdg"));
  }
  {
    ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnv home("HOME", (dir / "home").string());
    RegistryKey key;
    EXPECT_EQ(openSettings(key), platform::kErrorFileNotFound);
    RegFileWriter().key().text("Where", "home").write(dir / "home/.config/Quarvo/Glimmerhold.reg");
    ASSERT_EQ(openSettings(key), platform::kErrorSuccess);
    EXPECT_EQ(query(key, "Where").data, withZero("home"));

    // An open key keeps what it read; the next open sees the new file.
    RegFileWriter().key().text("Where", "changed").write(dir / "home/.config/Quarvo/Glimmerhold.reg");
    RegistryKey again;
    ASSERT_EQ(openSettings(again), platform::kErrorSuccess);
    EXPECT_EQ(query(again, "Where").data, withZero("changed"));
    EXPECT_EQ(query(key, "Where").data, withZero("home"));
  }
  {
    ScopedEnv file("GLIMMERHOLD_REGISTRY_FILE", (dir / "missing.reg").string());
    RegistryKey key;
    EXPECT_EQ(openSettings(key), platform::kErrorFileNotFound);
    ScopedEnv folder("GLIMMERHOLD_REGISTRY_FILE", dir.str());
    EXPECT_EQ(openSettings(key), platform::kErrorFileNotFound);
    EXPECT_FALSE(key.isOpen());
  }
}

TEST(RegistryFile, MalformedValueLinesLeaveTheValueMissing) {
  const char* broken[] = {
      "\"V\"=\"abc",              // no closing quote
      "\"V\"=\"a\\qb\"",          // not an escape the format has
      "\"V\"=\"abc\" junk",       // text after the value
      "\"V\"abc",                 // no "="
      "\"V\"=",                   // no data
      "\"V\"=hex(2):4g,00",       // not hex
      "\"V\"=hex(2):412,00",      // more than one byte
      "\"V\"=hex(2):41,,00",      // an empty byte
      "\"V\"=hex(2):41,00,",      // ends in a comma
      "\"V\"=hex():41,00",        // no type
      "\"V\"=hex(123456789):41",  // type too large
      "\"V\"=hex(2)41,00",        // no ":"
      "\"V\"=dword:123456789",    // nine digits
      "\"V\"=dword:",             // no digits
      "\"V\"=dword:12x4",         // not hex
      "\"V\"=str:\"abc\"",        // not a type of the format
      "\"V\"=hex(2):41,00,\\",    // continuation that never comes
  };
  for (const char* line : broken) {
    std::string file =
        RegFileWriter(RegFileWriter::Format::Ansi).key().text("V", "old").line(line).text("W", "kept").bytes();
    EXPECT_EQ(queryIn(file, "V").status, platform::kErrorFileNotFound) << line;
    EXPECT_EQ(queryIn(file, "W").data, withZero("kept")) << line;
  }
  // A truncated continuation does not swallow the section after it.
  std::string file = RegFileWriter(RegFileWriter::Format::Ansi)
                         .key("HKEY_CURRENT_USER\\Software\\Other")
                         .line("\"X\"=hex:41,\\")
                         .key()
                         .text("W", "kept")
                         .bytes();
  EXPECT_EQ(queryIn(file, "W").data, withZero("kept"));
  // Unicode text after a hex(2) is UTF-16: an empty one still has its 0.
  EXPECT_EQ(queryIn(RegFileWriter().key().line("\"E\"=hex(2):").bytes(), "E").data, withZero(""));
}

TEST(RegistryFile, FilesThatAreNoExportAreMissingKeys) {
  std::string key = std::string("[") + kSettingsKeyPath + "]\r\n\"V\"=\"x\"\r\n";
  EXPECT_EQ(queryIn("", "V").status, platform::kErrorFileNotFound);
  EXPECT_EQ(queryIn("\xFF\xFE", "V").status, platform::kErrorFileNotFound);
  EXPECT_EQ(queryIn(key, "V").status, platform::kErrorFileNotFound);
  EXPECT_EQ(queryIn("Windows Registry Editor Version 4.00\r\n" + key, "V").status, platform::kErrorFileNotFound);
  EXPECT_EQ(queryIn("\xFE\xFF" + std::string("\0W\0i", 4), "V").status, platform::kErrorFileNotFound);
  EXPECT_EQ(queryIn("\xEF\xBB\xBFREGEDIT4\r\n" + key, "V").data, withZero("x"));

  std::mt19937 random(20240611);
  for (int round = 0; round < 50; ++round) {
    std::string garbage(1 + random() % 4096, '\0');
    for (char& c : garbage) c = static_cast<char>(random());
    EXPECT_EQ(queryIn(garbage, "V").status, platform::kErrorFileNotFound);
    long afterHeader = queryIn("REGEDIT4\r\n" + key + garbage, "V").status;
    EXPECT_TRUE(afterHeader == platform::kErrorSuccess || afterHeader == platform::kErrorFileNotFound);
  }

  // Real files cut short or with bytes changed: every reading path meets
  // damage somewhere, and each must end in a clear answer.
  for (auto format : {RegFileWriter::Format::Ansi, RegFileWriter::Format::Unicode}) {
    std::string valid = RegFileWriter(format)
                            .key()
                            .text("V", "C:\\a \"b\"")
                            .expandText("E", std::string(120, 'e'))
                            .dword("D", 5)
                            .hex("B", 3, std::string(60, '\x7f'))
                            .text("", "d")
                            .bytes();
    for (int round = 0; round < 200; ++round) {
      std::string damaged = valid.substr(0, random() % (valid.size() + 1));
      for (int flips = random() % 4; flips > 0 && !damaged.empty(); --flips) {
        damaged[random() % damaged.size()] = static_cast<char>(random());
      }
      for (const char* name : {"V", "E", "D", "B", ""}) {
        long status = queryIn(damaged, name).status;
        EXPECT_TRUE(status == platform::kErrorSuccess || status == platform::kErrorFileNotFound);
      }
    }
  }
}

TEST(RegistryFile, HugeLinesAndHugeFiles) {
  std::string longText(3u << 20, 'p');
  std::string file = RegFileWriter(RegFileWriter::Format::Ansi).key().text("Long", longText).bytes();
  TempDir dir;
  writeFile(dir / "user.reg", file);
  RegistryFileEnv env(dir / "user.reg");
  RegistryKey key;
  ASSERT_EQ(openSettings(key), platform::kErrorSuccess);
  std::uint32_t size = 0;
  EXPECT_EQ(key.queryValue("Long", nullptr, nullptr, &size), platform::kErrorSuccess);
  EXPECT_EQ(size, longText.size() + 1);

  // Past 64 MiB the file is refused as a whole.
  writeFile(dir / "user.reg", RegFileWriter().key().text("V", "x").bytes());
  std::filesystem::resize_file(dir / "user.reg", (64u << 20) + 1);
  RegistryKey big;
  EXPECT_EQ(openSettings(big), platform::kErrorFileNotFound);
}

TEST(ExpandEnvironmentStrings, FollowsWindowsRules) {
  ScopedEnv set("GH_EXPAND_SET", "value");
  ScopedEnv empty("GH_EXPAND_EMPTY", "");
  ScopedEnv unset("GH_EXPAND_UNSET", std::nullopt);
  auto expand = [](const char* source) {
    char buffer[256];
    std::uint32_t needed = platform::expandEnvironmentStrings(source, buffer, sizeof buffer);
    EXPECT_GT(needed, 0u);
    EXPECT_EQ(std::strlen(buffer) + 1, needed) << source;
    return std::string(buffer);
  };
  EXPECT_EQ(expand("a%GH_EXPAND_SET%b"), "avalueb");
  EXPECT_EQ(expand("%GH_EXPAND_SET%%GH_EXPAND_SET%"), "valuevalue");
  EXPECT_EQ(expand("x%GH_EXPAND_EMPTY%y"), "xy");
  EXPECT_EQ(expand("C:\\%GH_EXPAND_UNSET%\\x"), "C:\\%GH_EXPAND_UNSET%\\x");
  EXPECT_EQ(expand("%GH_EXPAND_UNSET%GH_EXPAND_SET%"), "%GH_EXPAND_UNSET%GH_EXPAND_SET%");
  EXPECT_EQ(expand("100% sure"), "100% sure");
  EXPECT_EQ(expand("%%"), "%%");
  EXPECT_EQ(expand("%"), "%");
  EXPECT_EQ(expand(""), "");

  // Too small a buffer: the size needed, and nothing written past the buffer.
  char small[8];
  std::memset(small, '#', sizeof small);
  EXPECT_EQ(platform::expandEnvironmentStrings("%GH_EXPAND_SET%-long", small, 4), 11u);
  EXPECT_EQ(small[4], '#');
  EXPECT_EQ(platform::expandEnvironmentStrings("%GH_EXPAND_SET%", nullptr, 0), 6u);
  EXPECT_EQ(platform::expandEnvironmentStrings(nullptr, small, sizeof small), 0u);
}
