#pragma once
// Icons drawn from SVG artwork, and lists of same-sized images that trees and
// menus refer to by position.

#include <memory>
#include <string_view>
#include <vector>

#include "platform/ui/types.h"

class QIcon;

namespace platform::ui {

class Icon {
 public:
  Icon();
  ~Icon();
  Icon(const Icon&);
  Icon& operator=(const Icon&);

  // An icon from SVG text; null when the text is no valid SVG image.
  static Icon fromSvg(std::string_view svg);
  // The same images as `icon`; null for a null QIcon.
  static Icon fromQIcon(const QIcon& icon);
  bool isNull() const;
  const QIcon& qIcon() const;

 private:
  std::shared_ptr<const QIcon> icon_;
};

class ImageList {
 public:
  // Images of width × height pixels; capacity and growth only reserve room.
  ImageList(int width, int height, int initialCapacity = 8, int growth = 2);
  ~ImageList();

  // Adds the icon; its position, or -1 for a null icon.
  int add(const Icon& icon);
  int count() const { return static_cast<int>(icons_.size()); }
  Size imageSize() const { return size_; }
  // The icon at a position, or a null icon.
  Icon at(int position) const;

 private:
  Size size_;
  int growth_;
  std::vector<Icon> icons_;
};

}  // namespace platform::ui
