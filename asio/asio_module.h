#pragma once
// The driver's own module: the handle the module entry remembered and the
// full path of the driver's file.

#include <string>

void* asioModuleHandle();
// Empty when the path cannot be determined.
std::u16string asioModulePath();
