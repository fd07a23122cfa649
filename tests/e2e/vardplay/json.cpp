#include "json.h"

#include <cstdio>

namespace vardplay {

void JsonWriter::Key(const char* key) {
  if (!first_) out_ += ',';
  out_ += '\n';
  out_.append(static_cast<size_t>(depth_) * 2, ' ');
  first_ = false;
  if (key) {
    out_ += Quote(key);
    out_ += ": ";
  }
}

void JsonWriter::Open(const char* key, char bracket) {
  if (depth_ > 0) Key(key);
  out_ += bracket;
  first_ = true;
  ++depth_;
}

void JsonWriter::Close(char bracket) {
  --depth_;
  if (!first_) {
    out_ += '\n';
    out_.append(static_cast<size_t>(depth_) * 2, ' ');
  }
  out_ += bracket;
  first_ = false;
  if (depth_ == 0) out_ += '\n';
}

void JsonWriter::String(const char* key, const std::string& value) {
  Key(key);
  out_ += Quote(value);
}

void JsonWriter::Int(const char* key, std::int64_t value) {
  Key(key);
  out_ += std::to_string(value);
}

void JsonWriter::Bool(const char* key, bool value) {
  Key(key);
  out_ += value ? "true" : "false";
}

std::string JsonWriter::Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace vardplay
