// Debian ships cpp-httplib as a prebuilt library that ThreadSanitizer cannot
// see into: reports that arise inside the test server's own threads are
// about that library, not about the code under test.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() { return "race:libcpp-httplib.so\n"; }
#endif
