// A minimal JSON writer for the tool's report: objects, arrays, strings (UTF-8 passed
// through, control characters escaped), integers and booleans. The caller nests correctly.
#pragma once

#include <cstdint>
#include <string>

namespace vardplay {

class JsonWriter {
 public:
  void BeginObject(const char* key = nullptr) { Open(key, '{'); }
  void EndObject() { Close('}'); }
  void BeginArray(const char* key = nullptr) { Open(key, '['); }
  void EndArray() { Close(']'); }
  void String(const char* key, const std::string& value);
  void Int(const char* key, std::int64_t value);
  void Bool(const char* key, bool value);
  const std::string& str() const { return out_; }

 private:
  void Open(const char* key, char bracket);
  void Close(char bracket);
  void Key(const char* key);
  static std::string Quote(const std::string& text);
  std::string out_;
  bool first_ = true;
  int depth_ = 0;
};

}  // namespace vardplay
