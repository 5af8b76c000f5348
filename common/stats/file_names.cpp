#include "stats/file_names.h"

#include <cstdint>

namespace lumbra {

namespace {

constexpr std::string_view replacement = "\xef\xbf\xbd";  // U+FFFD

// The length of the valid UTF-8 sequence at s[at], or 0 when none starts there.
std::size_t sequenceAt(std::string_view s, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = byte(at);
  if (c < 0x80) return 1;
  std::size_t length = 0;
  std::uint32_t cp = 0;
  if (c >= 0xc2 && c <= 0xdf) length = 2, cp = c & 0x1fu;
  else if (c >= 0xe0 && c <= 0xef) length = 3, cp = c & 0x0fu;
  else if (c >= 0xf0 && c <= 0xf4) length = 4, cp = c & 0x07u;
  else return 0;
  if (at + length > s.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xc0) != 0x80) return 0;
    cp = (cp << 6) | (byte(at + i) & 0x3fu);
  }
  const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
  if (overlong || (cp >= 0xd800 && cp <= 0xdfff) || cp > 0x10ffff) return 0;
  return length;
}

}  // namespace

bool validUtf8(std::string_view s) {
  for (std::size_t at = 0; at < s.size();) {
    const std::size_t n = sequenceAt(s, at);
    if (n == 0) return false;
    at += n;
  }
  return true;
}

std::string replacedUtf8(std::string_view s) {
  std::string out;
  for (std::size_t at = 0; at < s.size();) {
    const std::size_t n = sequenceAt(s, at);
    if (n == 0) {
      out += replacement;
      ++at;
    } else {
      out.append(s.substr(at, n));
      at += n;
    }
  }
  return out;
}

std::string percentEncoded(std::string_view s) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c > 0x20 && c < 0x7f && c != '%') {
      out += ch;
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

bool percentDecoded(std::string_view text, std::string& bytes) {
  const auto digit = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
  };
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c != '%') {
      if (c <= 0x20 || c >= 0x7f) return false;
      bytes += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = digit(text[i + 1]), low = digit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    bytes += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

void putFileName(nlohmann::ordered_json& j, const std::string& name) {
  if (validUtf8(name)) {
    j["file"] = name;
  } else {
    j["file"] = replacedUtf8(name);
    j["file_bytes"] = percentEncoded(name);
  }
}

std::string fileNameMembers(const std::string& name) {
  nlohmann::ordered_json j;
  putFileName(j, name);
  const std::string text = j.dump();
  return text.substr(1, text.size() - 2);
}

std::string xmlText(std::string_view s) {
  std::string out;
  for (std::size_t at = 0; at < s.size();) {
    const std::size_t n = sequenceAt(s, at);
    const auto c = static_cast<unsigned char>(s[at]);
    if (n == 0 || (c < 0x20 && c != '\t' && c != '\n') || c == 0x7f) out += replacement;
    else if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else out.append(s.substr(at, n));
    at += n == 0 ? 1 : n;
  }
  return out;
}

}  // namespace lumbra
