#include "tools/common/json_writer.h"

#include <cstdio>

namespace tool {

void JsonWriter::separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!firstInScope_.empty()) {
    if (!firstInScope_.back()) text_ += ',';
    firstInScope_.back() = false;
  }
}

void JsonWriter::open(char bracket) {
  separate();
  text_ += bracket;
  firstInScope_.push_back(true);
}

void JsonWriter::close(char bracket) {
  if (!firstInScope_.empty()) firstInScope_.pop_back();
  text_ += bracket;
}

void JsonWriter::beginObject() { open('{'); }
void JsonWriter::endObject() { close('}'); }
void JsonWriter::beginArray() { open('['); }
void JsonWriter::endArray() { close(']'); }

void JsonWriter::key(std::string_view name) {
  value(name);
  text_ += ':';
  afterKey_ = true;
}

void JsonWriter::value(std::string_view text) {
  separate();
  text_ += '"';
  for (const char c : text) {
    switch (c) {
      case '"': text_ += "\\\""; break;
      case '\\': text_ += "\\\\"; break;
      case '\n': text_ += "\\n"; break;
      case '\r': text_ += "\\r"; break;
      case '\t': text_ += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          text_ += escaped;
        } else {
          text_ += c;
        }
    }
  }
  text_ += '"';
}

void JsonWriter::value(uint64_t number) {
  separate();
  text_ += std::to_string(number);
}

void JsonWriter::value(bool flag) {
  separate();
  text_ += flag ? "true" : "false";
}

}  // namespace tool
