#include "device-access/copy_text.h"

namespace {

template <typename Character>
Character unchanged(Character c) {
  return c;
}

char lowByteOf(char16_t c) {
  const auto lowByte = static_cast<char>(c & 0xFF);
  return lowByte == '\0' ? '?' : lowByte;
}

template <typename Destination, typename Source>
size_t copyBounded(Destination* destination, const Source* source, size_t capacity, Destination (*convert)(Source)) {
  if (destination == nullptr || capacity == 0) return 0;
  size_t copied = 0;
  if (source != nullptr) {
    for (; copied < capacity - 1 && source[copied] != Source('\0'); ++copied) {
      destination[copied] = convert(source[copied]);
    }
  }
  destination[copied] = Destination('\0');
  return copied;
}

}  // namespace

size_t copyText(char* destination, const char* source, size_t capacity) {
  return copyBounded(destination, source, capacity, unchanged<char>);
}

size_t copyText(char16_t* destination, const char16_t* source, size_t capacity) {
  return copyBounded(destination, source, capacity, unchanged<char16_t>);
}

size_t copyText(char* destination, const char16_t* source, size_t capacity) {
  return copyBounded(destination, source, capacity, lowByteOf);
}
