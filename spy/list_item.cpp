#include "spy/list_item.h"

#include <algorithm>

std::u16string_view boundedText(const char16_t* field, size_t capacity) {
  if (field == nullptr) return {};
  const char16_t* end = std::find(field, field + capacity, u'\0');
  return {field, static_cast<size_t>(end - field)};
}
