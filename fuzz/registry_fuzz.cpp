// Fuzzes the reader of the registry's REGEDIT4 text: whatever the text holds,
// it is read or refused with a reason, never crashes, and what it reads is
// written back as text that reads back to the very same registry.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/posix/registry_store.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  RegistryStore store;
  std::string error;
  if (!store.Parse(text, &error)) {
    Require(!error.empty());
    return 0;
  }
  const std::string written = store.Serialize();
  RegistryStore again;
  Require(again.Parse(written, &error));
  Require(again.Serialize() == written);
  return 0;
}
