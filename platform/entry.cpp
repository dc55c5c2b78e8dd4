// Compiled into the shared library only: its constructor and destructor run at load and unload.
#include "entry.h"

// The C++ support library is linked into the unit, and with it its emergency buffer for
// exceptions, allocated when the unit loads. Its release, made for leak checkers, is the only way
// to give the buffer back: without it every unload of the unit would leave it behind.
namespace __gnu_cxx {
void __freeres();
}

namespace {
__attribute__((constructor)) void libraryLoaded(void) { RuntimeProcessAttach(); }
__attribute__((destructor)) void libraryUnloaded(void) {
  RuntimeProcessDetach();
  __gnu_cxx::__freeres();
}
}  // namespace
