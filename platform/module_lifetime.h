#pragma once
// A copy of this layer may live inside a shared library that its host
// unloads again (an in-process server). Threads that run for the rest of the
// process (the I/O thread, the reaper of child processes, the timer service)
// run code of that library, and the tables that live until exit (handles,
// shareable memory, APC queues) are reached only through its variables, so
// starting one or making one must keep the library loaded.

namespace platform {

// Makes the module that contains this layer's code stay loaded until the
// process ends. Nothing happens for the program itself.
void keepModuleLoaded();

}  // namespace platform
