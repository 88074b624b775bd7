#include "platform/ui/resources.h"

#include <atomic>

namespace platform::ui {

namespace {
std::atomic<const ResourceTable*> resources{nullptr};
}  // namespace

void setResources(const ResourceTable* table) { resources.store(table); }

Icon loadIcon(int id) {
  const ResourceTable* table = resources.load();
  if (table == nullptr) return Icon();
  for (const IconResource& icon : table->icons) {
    if (icon.id == id) return Icon::fromSvg(icon.svg);
  }
  return Icon();
}

std::u16string loadString(int id) {
  const ResourceTable* table = resources.load();
  if (table == nullptr) return {};
  for (const StringResource& entry : table->strings) {
    if (entry.id == id) return std::u16string(entry.text);
  }
  return {};
}

}  // namespace platform::ui
