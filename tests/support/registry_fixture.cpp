#include "support/registry_fixture.h"

#include <cstdio>

#include "support/temp_dir.h"
#if defined(_WIN32)
#include "support/win32_registry.h"
#endif

namespace testsupport {

namespace {

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

std::string nameField(const std::string& name) { return name.empty() ? "@" : quoted(name); }

}  // namespace

std::string utf16le(const std::string& utf8) {
  std::string out;
  auto unit = [&](std::uint32_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  };
  for (std::size_t i = 0; i < utf8.size();) {
    auto byte = static_cast<unsigned char>(utf8[i]);
    int extra = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
    std::uint32_t point = extra == 0 ? byte : byte & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) {
      point = point << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    i += static_cast<std::size_t>(extra) + 1;
    if (point >= 0x10000) {
      point -= 0x10000;
      unit(0xD800 | point >> 10);
      unit(0xDC00 | (point & 0x3FF));
    } else {
      unit(point);
    }
  }
  return out;
}

RegFileWriter::RegFileWriter(Format format) : format_(format) {
  text_ = format == Format::Unicode ? "Windows Registry Editor Version 5.00\r\n" : "REGEDIT4\r\n";
}

RegFileWriter& RegFileWriter::key(const std::string& path) {
  keyPath_ = path;
  return line("").line("[" + path + "]");
}

RegFileWriter& RegFileWriter::text(const std::string& name, const std::string& value) {
  // Imported as text, whatever the file's encoding: held in UTF-16.
  entries_.push_back({keyPath_, name, 1, utf16le(value) + std::string(2, '\0'), true});
  return line(nameField(name) + "=" + quoted(value));
}

RegFileWriter& RegFileWriter::expandText(const std::string& name, const std::string& value) {
  std::string data = format_ == Format::Unicode ? utf16le(value) + std::string(2, '\0') : value + '\0';
  return hex(name, 2, data);
}

RegFileWriter& RegFileWriter::dword(const std::string& name, std::uint32_t value) {
  std::string data;
  for (int shift = 0; shift < 32; shift += 8) data.push_back(static_cast<char>(value >> shift & 0xFF));
  entries_.push_back({keyPath_, name, 4, data, false});
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", value);
  return line(nameField(name) + "=dword:" + digits);
}

RegFileWriter& RegFileWriter::hex(const std::string& name, std::uint32_t type, const std::string& bytes) {
  entries_.push_back({keyPath_, name, type, bytes, format_ == Format::Unicode});
  std::string out = nameField(name) + "=hex";
  if (type != 3) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "(%x)", type);
    out += digits;
  }
  out += ":";
  // Wrapped near 80 columns, as the registry editor does.
  std::size_t column = out.size();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char item[4];
    std::snprintf(item, sizeof item, "%02x", static_cast<unsigned char>(bytes[i]));
    out += item;
    column += 2;
    if (i + 1 == bytes.size()) break;
    out += ",";
    ++column;
    if (column > 76) {
      out += "\\\r\n  ";
      column = 2;
    }
  }
  return line(out);
}

RegFileWriter& RegFileWriter::line(const std::string& raw) {
  text_ += raw + "\r\n";
  return *this;
}

std::string RegFileWriter::bytes() const { return format_ == Format::Unicode ? "\xFF\xFE" + utf16le(text_) : text_; }

void RegFileWriter::write(const std::filesystem::path& file) const {
  writeFile(file, bytes());
#if defined(_WIN32)
  replaceSettingsInRegistry(entries_);
#endif
}

void writeInstallationSettings(const std::filesystem::path& file, const std::string& installPath,
                               const std::string& language) {
  RegFileWriter writer;
  writer.key().text("InstallPath", installPath);
  if (!language.empty()) writer.text("Lenguaje_h144357406", language);
  writer.write(file);
}

}  // namespace testsupport
