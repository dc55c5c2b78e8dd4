// A tiny library for the loader tests: it tells the test program when it is loaded and
// unloaded, and which library it is.
extern "C" void QuenzelTestLibraryEvent(const char* name, int loaded);  // in the test program

namespace {
__attribute__((constructor)) void libraryLoaded(void) {
  QuenzelTestLibraryEvent(QUENZEL_TESTLIB_NAME, 1);
}
__attribute__((destructor)) void libraryUnloaded(void) {
  QuenzelTestLibraryEvent(QUENZEL_TESTLIB_NAME, 0);
}
}  // namespace

extern "C" __attribute__((visibility("default"))) const char* QuenzelTestLibraryName(void) {
  return QUENZEL_TESTLIB_NAME;
}
