// Leaks of the system's font configuration library, which Qt loads once for text and never
// frees; they are not ours and would fail every test that lays out text under
// AddressSanitizer. Linked into every test program.

extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
