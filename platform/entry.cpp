// Compiled into the shared library only: its constructor and destructor run at load and unload.
#include "entry.h"

namespace {
__attribute__((constructor)) void libraryLoaded(void) { RuntimeProcessAttach(); }
__attribute__((destructor)) void libraryUnloaded(void) { RuntimeProcessDetach(); }
}  // namespace
