#pragma once
// The second start of a single-instance program: the running instance's
// frame, found by its window class, is restored if minimized and its last
// active popup shown in front.

#include <string_view>

// Always 1, the second instance's exit code (also when no frame is found).
int activateFirstInstance(std::u16string_view frameClassName);
