// Fuzzes the reader of captures, which come from users' machines: whatever
// the text, it is read or refused with one line naming the line, and what
// was read holds together (indexes in order, CDBs of 1..16 bytes, data no
// longer than its buffer), so a replay never reads past what it was given.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_require.h"
#include "platform/sim/capture_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Capture capture;
  std::string error;
  if (!ParseCapture(text, &capture, &error)) {
    FuzzRequire(error.rfind("line ", 0) == 0, "a refusal names the line");
    return 0;
  }
  FuzzRequire(capture.family == "98" || capture.family == "nt", "a known family");
  for (const CaptureEvent& event : capture.events) {
    if (event.adapters) continue;
    const CaptureCommand& c = event.command;
    FuzzRequire(!c.cdb.empty() && c.cdb.size() <= 16, "a CDB of 1 to 16 bytes");
    FuzzRequire(c.data_out.empty() || c.data_out.size() == c.length, "data out fills the buffer");
    FuzzRequire(c.data_in.size() <= c.length, "data in fits the buffer");
    FuzzRequire(c.sense.size() <= SENSE_LEN + 2, "sense fits the sense area");
  }
  return 0;
}
