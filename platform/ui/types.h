#pragma once
// Plain value types of the window layer: points, sizes, rectangles in pixels,
// colours, and the integer types of window messages.

#include <cstdint>

namespace platform::ui {

using WParam = uintptr_t;
using LParam = intptr_t;
using LResult = intptr_t;

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  int width = 0;
  int height = 0;
  bool operator==(const Size&) const = default;
};

// Left and top inside, right and bottom just outside, as screen rectangles are.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

// A colour as red, green and blue bytes: 0x00BBGGRR.
using Colour = uint32_t;
constexpr Colour rgb(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<Colour>(red) | static_cast<Colour>(green) << 8 | static_cast<Colour>(blue) << 16;
}
constexpr uint8_t redOf(Colour colour) { return static_cast<uint8_t>(colour); }
constexpr uint8_t greenOf(Colour colour) { return static_cast<uint8_t>(colour >> 8); }
constexpr uint8_t blueOf(Colour colour) { return static_cast<uint8_t>(colour >> 16); }

constexpr uint16_t lowWord(uintptr_t value) { return static_cast<uint16_t>(value & 0xFFFF); }
constexpr uint16_t highWord(uintptr_t value) { return static_cast<uint16_t>((value >> 16) & 0xFFFF); }
constexpr WParam makeWParam(uint16_t low, uint16_t high) { return static_cast<WParam>(low) | static_cast<WParam>(high) << 16; }
constexpr LParam makeLParam(uint16_t low, uint16_t high) {
  return static_cast<LParam>(static_cast<uint32_t>(low) | static_cast<uint32_t>(high) << 16);
}

// Names one window of this machine: the process that owns it and the window's
// number in that process. The null handle names no window.
struct WindowHandle {
  uint64_t value = 0;

  static WindowHandle make(uint32_t process, uint32_t serial) {
    return WindowHandle{static_cast<uint64_t>(process) << 32 | serial};
  }
  uint32_t process() const { return static_cast<uint32_t>(value >> 32); }
  uint32_t serial() const { return static_cast<uint32_t>(value); }
  explicit operator bool() const { return value != 0; }
  bool operator==(const WindowHandle&) const = default;
};

}  // namespace platform::ui
