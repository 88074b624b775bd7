#pragma once
// The rows of a statistics page: one named value each, read through pointers
// into the frame's copy of the statistics record and formatted with a
// printf-style format whenever the page is refreshed. Rows never change
// after construction and never copy the values they show.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/format.h"
#include "platform/ui/types.h"

// The text of a name field of `capacity` characters: up to its first zero,
// or the whole field when the zero is missing.
std::u16string_view boundedText(const char16_t* field, size_t capacity);

template <size_t Capacity>
std::u16string_view boundedText(const char16_t (&field)[Capacity]) {
  return boundedText(field, Capacity);
}

class ListItem {
 public:
  // Row kinds: an error counter is highlighted while it is not 0.
  static constexpr uint32_t kError = 0;
  static constexpr uint32_t kPlain = 1;
  static constexpr uint32_t kSeparator = 3;

  static constexpr platform::ui::Colour kNormalColour = platform::ui::rgb(0, 0, 0);
  static constexpr platform::ui::Colour kHighlightColour = platform::ui::rgb(250, 0, 50);

  // The description of separator rows, and of the page while nothing is selected.
  static constexpr char16_t kSelectCounterText[] = u"Please select a counter to show its description.";

  ListItem(std::u16string_view label, std::u16string_view format, uint32_t kind,
           std::u16string_view description = {})
      : label_(label), description_(description), kind_(kind), format_(format) {}
  virtual ~ListItem() = default;
  ListItem(const ListItem&) = delete;
  ListItem& operator=(const ListItem&) = delete;

  // The value column's text.
  virtual std::u16string getText() const = 0;
  // The value column's colour.
  virtual platform::ui::Colour getColour() const { return colour_; }

  const std::u16string& label() const { return label_; }
  const std::u16string& description() const { return description_; }
  uint32_t kind() const { return kind_; }
  const std::u16string& format() const { return format_; }

 protected:
  // The highlight for an error counter that is not 0, else the normal colour.
  platform::ui::Colour colourFor(bool nonZero) const {
    return kind_ == kError && nonZero ? highlightColour_ : colour_;
  }

 private:
  std::u16string label_;
  std::u16string description_;
  uint32_t kind_;
  platform::ui::Colour colour_ = kNormalColour;
  std::u16string format_;
  platform::ui::Colour highlightColour_ = kHighlightColour;
};

// A row without a value: separators.
class ListItemEmpty : public ListItem {
 public:
  using ListItem::ListItem;
  std::u16string getText() const override { return {}; }
};

// A name field of a fixed number of characters; shown up to its first zero
// and never past the field's end.
class ListItemWStr : public ListItem {
 public:
  ListItemWStr(std::u16string_view label, const char16_t* field, size_t capacity, std::u16string_view format,
               uint32_t kind, std::u16string_view description = {})
      : ListItem(label, format, kind, description), field_(field), capacity_(capacity) {}
  std::u16string getText() const override {
    return platform::formatText(format(), boundedText(field_, capacity_));
  }

 private:
  const char16_t* field_;
  size_t capacity_;
};

// One integer; with `notAvailable` a negative value shows as "n/a".
template <typename T, bool notAvailable = false>
class ListItemIntT : public ListItem {
  static_assert(std::is_integral_v<T>);
  static_assert(!notAvailable || std::is_signed_v<T>);

 public:
  ListItemIntT(std::u16string_view label, const T* value, std::u16string_view format, uint32_t kind,
               std::u16string_view description = {})
      : ListItem(label, format, kind, description), value_(value) {}
  std::u16string getText() const override {
    if constexpr (notAvailable) {
      if (*value_ < 0) return u"n/a";
    }
    return platform::formatText(format(), *value_);
  }
  platform::ui::Colour getColour() const override { return colourFor(*value_ != 0); }

 private:
  const T* value_;
};

// A flag: "true" for any value but 0.
template <typename T>
class ListItemBoolT : public ListItem {
 public:
  ListItemBoolT(std::u16string_view label, const T* value, std::u16string_view format, uint32_t kind,
                std::u16string_view description = {})
      : ListItem(label, format, kind, description), value_(value) {}
  std::u16string getText() const override {
    return platform::formatText(format(), *value_ != 0 ? trueText_ : falseText_);
  }

 private:
  const T* value_;
  std::u16string_view falseText_ = u"false";
  std::u16string_view trueText_ = u"true";
};

// A value in hundredths, formatted from (sign text, whole part, hundredths).
// The sign is its own argument so that values between -99 and -1 keep it.
template <typename T>
class ListItemPercentageT : public ListItem {
  static_assert(std::is_integral_v<T>);

 public:
  ListItemPercentageT(std::u16string_view label, const T* value, std::u16string_view format, uint32_t kind,
                      std::u16string_view description = {})
      : ListItem(label, format, kind, description), value_(value) {}
  std::u16string getText() const override {
    const T value = *value_;
    if constexpr (std::is_signed_v<T>) {
      // Division truncates towards zero; both parts stay within T (even for
      // the smallest value), and their magnitudes are shown.
      const T whole = static_cast<T>(value / 100);
      const T hundredths = static_cast<T>(value % 100);
      return platform::formatText(format(), value < 0 ? u"-" : u"", whole < 0 ? -whole : whole,
                                  hundredths < 0 ? -hundredths : hundredths);
    } else {
      return platform::formatText(format(), u"", static_cast<T>(value / 100), static_cast<T>(value % 100));
    }
  }
  platform::ui::Colour getColour() const override { return colourFor(*value_ != 0); }

 private:
  const T* value_;
};

// A version of three numbers (major, minor, build).
template <typename T>
class ListItemVersionStrT : public ListItem {
 public:
  ListItemVersionStrT(std::u16string_view label, const T* major, const T* minor, const T* build,
                      std::u16string_view format, uint32_t kind, std::u16string_view description = {})
      : ListItem(label, format, kind, description), major_(major), minor_(minor), build_(build) {}
  std::u16string getText() const override { return platform::formatText(format(), *major_, *minor_, *build_); }

 private:
  const T* major_;
  const T* minor_;
  const T* build_;
};

// The rows of one page, in list order; they go with the container.
class ListItemContainer {
 public:
  template <typename Item, typename... Args>
  Item& add(Args&&... args) {
    auto item = std::make_unique<Item>(std::forward<Args>(args)...);
    Item& added = *item;
    items_.push_back(std::move(item));
    return added;
  }

  size_t size() const { return items_.size(); }
  // Null for a position past the end.
  const ListItem* at(size_t position) const { return position < items_.size() ? items_[position].get() : nullptr; }

 private:
  std::vector<std::unique_ptr<ListItem>> items_;
};
