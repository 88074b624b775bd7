#include "spy/form_empty.h"

using namespace platform::ui;

const DialogTemplate FormEmpty::kTemplate{209, u"", 160, 94, {}};
const std::span<const ResizeRule> FormEmpty::kResizeRules{};
