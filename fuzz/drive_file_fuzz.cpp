// Fuzzes the reader of a virtual PC's drive files: the input is a drive file
// and, after a line "--firmware--", the firmware image kept beside it. The
// drives are read or refused with one line; drives that were read power on,
// take an INQUIRY, and are saved as files that read back the same.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/fuzz_pc.h"
#include "platform/sim/sim_aspi.h"
#include "platform/sim/virtual_clock.h"

namespace fs = std::filesystem;

namespace {

const fs::path& MachineDir() {
  static const fs::path dir = FuzzScratchDir() / ("qv_drive_fuzz_" + std::to_string(::getpid()));
  return dir;
}

void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct RemoveAtExit {
  ~RemoveAtExit() {
    std::error_code ec;
    fs::remove_all(MachineDir(), ec);
  }
} g_remove_at_exit;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = SplitFuzzInput(data, size, "\n--firmware--\n", 2);
  static const fs::path drives = [] {
    std::error_code ec;
    fs::create_directories(MachineDir() / "drives", ec);
    return MachineDir() / "drives";
  }();
  // The last run's save left only these two files (a drive file named for
  // another address is refused before anything is saved).
  Write(drives / "0-0.drive", parts[0]);
  std::error_code ec;
  if (parts[1].empty()) {
    fs::remove(drives / "0-0.firmware", ec);
  } else {
    Write(drives / "0-0.firmware", parts[1]);
  }

  VirtualClock clock(1000, false);
  std::string error;
  auto aspi = SimAspi::Load(MachineDir(), 8, &clock, &error);
  if (!aspi) {
    FuzzRequire(!error.empty() && error.find('\n') == std::string::npos,
                "a refused drive file gives one line");
    return 0;
  }
  aspi->PowerOn();
  const auto shown = aspi->ShowLines();
  for (const std::string& line : shown) {
    const int adapter = line[6] - '0';
    const int target = line[8] - '0';
    SRB_ExecSCSICmd inquiry{};
    BYTE answer[256] = {};
    inquiry.SRB_Cmd = SC_EXEC_SCSI_CMD;
    inquiry.SRB_HaId = static_cast<BYTE>(adapter);
    inquiry.SRB_Target = static_cast<BYTE>(target);
    inquiry.SRB_Flags = SRB_DIR_IN;
    inquiry.SRB_BufLen = sizeof answer;
    inquiry.SRB_BufPointer = answer;
    inquiry.SRB_CDBLen = 6;
    inquiry.CDBByte[0] = 0x12;
    inquiry.CDBByte[4] = 0x24;
    aspi->Send(&inquiry);
    clock.Advance(60000);  // a drive with hang=0x12 never answers: that is allowed
  }
  FuzzRequire(aspi->Save(), "the drives are saved");
  auto again = SimAspi::Load(MachineDir(), 8, &clock, &error);
  FuzzRequire(again != nullptr, "saved drives read back");
  again->PowerOn();
  FuzzRequire(again->ShowLines() == shown, "saved drives read back unchanged");
  return 0;
}
