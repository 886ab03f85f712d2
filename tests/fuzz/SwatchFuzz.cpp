// Reads arbitrary bytes as a swatch exchange file. A refusal is expected;
// anything else (a crash, a sanitizer report, an uncaught exception, a read
// past the end) is a finding. A file that reads must give as many names as
// colours, all distinct, and our own encoding of what was read must read back.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <span>

#include "Platform/Foundation/Diagnostics.h"
#include "picker/Export/RPCAdobeSwatchExchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Foundation::DiagnosticsCapture quiet;  // the reader's log lines, dropped with each input
    RPCAdobeSwatchExchange reader;
    const bool ok = reader.readFromData(std::span<const std::uint8_t>(data, size), "Fuzz");
    if (reader.colorNames.size() != reader.colorList.size()) std::abort();
    if (!ok) return 0;
    const auto& keys = reader.colors->allKeys();
    if (keys != reader.colorNames || std::set<std::string>(keys.begin(), keys.end()).size() != keys.size())
        std::abort();

    const auto again = RPCAdobeSwatchExchange::encode(*reader.colors);
    RPCAdobeSwatchExchange second;
    if (!second.readFromData(again, "Again") || second.colorList.size() != reader.colorList.size()) std::abort();
    return 0;
}
