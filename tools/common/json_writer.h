#pragma once
// A small writer of JSON text: objects, arrays, strings, numbers and
// booleans, with commas and string escapes handled.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tool {

class JsonWriter {
 public:
  void beginObject();
  void endObject();
  void beginArray();
  void endArray();
  // The name of the next member of the current object.
  void key(std::string_view name);

  void value(std::string_view text);
  void value(const char* text) { value(std::string_view(text)); }
  void value(uint64_t number);
  void value(uint32_t number) { value(uint64_t{number}); }
  void value(bool flag);

  // Shorthands for one member.
  template <typename Value>
  void member(std::string_view name, const Value& v) {
    key(name);
    value(v);
  }

  const std::string& text() const { return text_; }

 private:
  void separate();
  void open(char bracket);
  void close(char bracket);

  std::string text_;
  std::vector<bool> firstInScope_;
  bool afterKey_ = false;
};

}  // namespace tool
