#pragma once
// Starting a program through the shell, as a user's double click or the
// "runas" verb would. "open" (or no verb) starts it with the caller's rights;
// "runas" starts it as an administrator (user_rights.h). The program runs
// detached: it outlives its starter.

#include <cstdint>
#include <string_view>

namespace platform {

// 0 or the system error (2 for a missing program, 87 for an unknown verb).
// `parameters` is split as a command line; `showCommand` is the first
// showWindow command the program is asked for (SW_ values).
uint32_t shellExecute(std::u16string_view verb, std::u16string_view file, std::u16string_view parameters,
                      int showCommand);

}  // namespace platform
