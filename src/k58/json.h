// Writing JSON text.
#pragma once

#include <cstdio>
#include <string>

namespace pulsecut::k58 {

// `text` as a JSON string: in quotes, with quotes, backslashes and control characters escaped.
// Other bytes (UTF-8 included) pass as they are.
inline std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace pulsecut::k58
