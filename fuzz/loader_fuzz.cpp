// Fuzzes the loader data checks: the input is a loader data file. Whatever
// it holds, the checksum never covers bytes the file did not supply, an
// accepted file's payload lies inside both the file and the shared buffer,
// and a refused one shows exactly one message.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "fuzz/fuzz_require.h"
#include "fuzz/memory_platform.h"
#include "package/package_files.h"
#include "state/app_state.h"

namespace {

// The checksum rule worked out on the input itself, not on the buffer.
bool PayloadSumsToZero(const std::uint8_t* data, std::size_t length) {
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < length; i += 2) sum += (data[64 + i] << 8) | data[65 + i];
  return (sum & 0xFFFF) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ResetFuzzFiles();
  ResetAppState();
  // Left-overs of an earlier drive command or a longer file must never count
  // as loader data.
  std::memset(g_app.SharedBuffer, 0xA5, sizeof g_app.SharedBuffer);
  std::memset(g_app.LoaderData, 0xA5, sizeof g_app.LoaderData);
  CopyText(g_app.LoaderFileName, kMaxPath, "Tellmr.bin");
  PutFuzzFile("Tellmr.bin", std::string_view(reinterpret_cast<const char*>(data), size));

  const int prepared = PrepareLoaderData();
  FuzzRequire(FuzzOpenFiles() == 0);
  const std::size_t loaded = size < static_cast<std::size_t>(kSharedBufferSize)
                                 ? size
                                 : static_cast<std::size_t>(kSharedBufferSize);
  FuzzRequire(LoaderBytesLoaded() == static_cast<int>(loaded));
  FuzzRequire(std::memcmp(g_app.LoaderData, data, loaded) == 0);
  FuzzRequire(LoaderByte(static_cast<int>(loaded)) == 0);
  FuzzRequire(LoaderByte(kSharedBufferSize - 1) ==
              (loaded == static_cast<std::size_t>(kSharedBufferSize) ? data[loaded - 1] : 0));

  if (prepared == LoaderRefused) {
    FuzzRequire(FuzzMessageCount() == 1);
    FuzzRequire(LoaderChecksumOk() == 0);
    return 0;
  }
  FuzzRequire(prepared == LoaderReady);
  FuzzRequire(FuzzMessageCount() == 0);
  const std::size_t length = static_cast<std::size_t>(LoaderPayloadLength());
  FuzzRequire(length <= static_cast<std::size_t>(MaxPayloadLength));
  FuzzRequire(LoaderHeaderSize + length <= loaded);
  FuzzRequire(loaded >= static_cast<std::size_t>(MinLoaderFileSize));
  FuzzRequire(LoaderChecksumOk() == (PayloadSumsToZero(data, length) ? 1 : 0));
  // Only the version is a byte; the model code is the digits' whole pair value.
  const int version = LoaderVersionCode();
  FuzzRequire(version >= 0 && version <= 0xFF);
  return 0;
}
