// Pango loads fonts on a glib thread of its own; ThreadSanitizer cannot see
// the locking inside those prebuilt libraries, so reports that arise there are
// left out. Our own code is still checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libfontconfig.so.1\n"
           "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libpango-1.0.so.0\n"
           "called_from_lib:libpangoft2-1.0.so.0\n"
           "race:libfontconfig.so.1\n"
           "race:libglib-2.0.so.0\n"
           "race:libpango-1.0.so.0\n"
           "race:libpangoft2-1.0.so.0\n"
           "race:libpangocairo-1.0.so.0\n"
           "race:libharfbuzz.so.0\n"
           "race:libcairo.so.2\n";
}
