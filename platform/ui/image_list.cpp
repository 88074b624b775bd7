#include "platform/ui/image_list.h"

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace platform::ui {

namespace {

const QIcon& nullIcon() {
  static const QIcon* icon = new QIcon;
  return *icon;
}

}  // namespace

Icon::Icon() = default;
Icon::~Icon() = default;
Icon::Icon(const Icon&) = default;
Icon& Icon::operator=(const Icon&) = default;

Icon Icon::fromSvg(std::string_view svg) {
  QSvgRenderer renderer(QByteArray(svg.data(), static_cast<qsizetype>(svg.size())));
  Icon result;
  if (!renderer.isValid()) return result;
  auto icon = std::make_shared<QIcon>();
  for (const int size : {16, 24, 32, 48, 64}) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    icon->addPixmap(QPixmap::fromImage(image));
  }
  result.icon_ = std::move(icon);
  return result;
}

Icon Icon::fromQIcon(const QIcon& icon) {
  Icon result;
  if (!icon.isNull()) result.icon_ = std::make_shared<QIcon>(icon);
  return result;
}

bool Icon::isNull() const { return icon_ == nullptr; }

const QIcon& Icon::qIcon() const { return icon_ != nullptr ? *icon_ : nullIcon(); }

ImageList::ImageList(int width, int height, int initialCapacity, int growth) : size_{width, height}, growth_(growth) {
  icons_.reserve(static_cast<size_t>(initialCapacity > 0 ? initialCapacity : 0));
}

ImageList::~ImageList() = default;

int ImageList::add(const Icon& icon) {
  if (icon.isNull()) return -1;
  if (icons_.size() == icons_.capacity()) icons_.reserve(icons_.size() + static_cast<size_t>(growth_ > 0 ? growth_ : 1));
  icons_.push_back(icon);
  return static_cast<int>(icons_.size()) - 1;
}

Icon ImageList::at(int position) const {
  if (position < 0 || position >= count()) return Icon();
  return icons_[static_cast<size_t>(position)];
}

}  // namespace platform::ui
