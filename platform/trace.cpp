#include "platform/trace.h"

#include <cstdio>
#include <memory>

#include "platform/output_file.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::unique_ptr<std::FILE, FileCloser> g_trace;

const char* Direction(BYTE flags) {
  if ((flags & SRB_DIR_IN) != 0) return "in";
  if ((flags & SRB_DIR_OUT) != 0) return "out";
  return "none";
}

}  // namespace

bool OpenTrace(const char* path, std::string* error) {
  g_trace.reset();
  if (path == nullptr || path[0] == '\0') return false;
  g_trace.reset(CreateOutputFile(path, "trace file", error));
  return g_trace != nullptr;
}

void CloseTrace() { g_trace.reset(); }

bool TraceIsOpen() { return g_trace != nullptr; }

void TraceCommand(const SRB_ExecSCSICmd& request, TraceSense sense, DWORD duration_ms,
                  bool timed_out) {
  std::FILE* out = g_trace.get();
  if (out == nullptr) return;
  int cdb_length = request.SRB_CDBLen <= sizeof request.CDBByte ? request.SRB_CDBLen : 16;
  std::fprintf(out, "%u:%u cdb=", request.SRB_HaId, request.SRB_Target);
  for (int i = 0; i < cdb_length; ++i) {
    std::fprintf(out, i == 0 ? "%02X" : " %02X", request.CDBByte[i]);
  }
  std::fprintf(out, " dir=%s len=%lu status=0x%02X targ=0x%02X sense=%X/%02X/%02X ms=%lu%s\n",
               Direction(request.SRB_Flags), static_cast<unsigned long>(request.SRB_BufLen),
               request.SRB_Status, request.SRB_TargStat, sense.key, sense.asc, sense.ascq,
               static_cast<unsigned long>(duration_ms), timed_out ? " timeout" : "");
  // Flushed per line so a trace survives a crash or a power request.
  std::fflush(out);
}
