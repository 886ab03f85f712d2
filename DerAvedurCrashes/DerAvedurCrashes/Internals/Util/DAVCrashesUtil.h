#pragma once
#include <string>

// The crashes service's directories, as path components under the SDK's
// directory. Each is created on its first use (and again after resetDirectory).
class DAVCrashesUtil {
public:
    static std::string crashesDir();            // "crashes"
    static std::string logBufferDir();          // "crasheslogbuffer"
    static std::string wrapperExceptionsDir();  // "crasheswrapperexceptions"
    // The next call of each method above creates its directory again.
    static void resetDirectory();
};
