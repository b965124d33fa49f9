// Captures: a replayable record of every exchange between the program and the
// drives of one run, written by --record FILE and read back by the replay
// adapter and the twins of quorvanta-sim (platform/sim/replay_aspi.h).
//
// Format "quorvanta-capture" version 1: JSON Lines, UTF-8, one object per
// line, each line written as soon as what it describes is known (a crash
// keeps every line before it). Numbers that are SCSI bytes are strings in
// hexadecimal ("0x02"); byte strings are hexadecimal pairs separated by
// blanks ("12 00 00 00 20 00") or, for large ones, base64.
//
//   {"capture":"quorvanta-capture","version":1,"program":"quorvanta 1.0",
//    "platform":"this host"|"virtual PC"|"Windows","family":"98"|"nt",
//    "lang":"0x0409","ticks":N,"args":["--yes",...],
//    "files":"Tellumar.inf=SHA256 T71.BIN=SHA256 ..."}
//      the header, always the first line. ticks: the tick count when
//      recording began; args: the program's options and arguments that a
//      replay repeats: only --yes, --drive A:T, --list, --json, then "--",
//      the image and the last path part of each word after it (/NON as it
//      is); a replay refuses anything else;
//      files: the package files and their SHA-256 digests.
//   {"file":"NAME","size":N,"sha256":"...","b64":"..."}
//      one package file as the program found it at the start (after the
//      header, one per file the header names), at most kCaptureFileMax
//      bytes. NAME is relative to the package folder, parts separated by
//      '/', at most 260 bytes, without control characters; files from
//      outside the folder are never written, and no path of the machine
//      is (an image named on the command line is named as in args).
//   {"blob":"SHA256","len":N,"b64":"..."}
//   {"blob":"SHA256","len":N,"file":"NAME","at":OFFSET,"n":COUNT}
//      data that a command sent, stored once and named by its digest: either
//      in full, or as COUNT bytes of a package file from OFFSET followed by
//      zeros up to len (a firmware chunk). Always before its first use.
//   {"i":N,"adapters":"0x0101"}
//      the answer of GetASPI32SupportInfo (adapter count in the low byte,
//      status in the next).
//   {"i":N,"at":"A:T","cdb":"..","flags":"0x09","dir":"in"|"out"|"none",
//    "len":N,"out":"sha256:..." | "..","status":"0x01","ha":"0x00",
//    "targ":"0x02","sense":"..","in":"..","ms":N}
//      one command as it ended: address, CDB (SRB_CDBLen bytes), SRB_Flags
//      as the program set them, SRB_BufLen, the data it sent (out: the whole
//      buffer, inline or by blob digest), SRB_Status, SRB_HaStat,
//      SRB_TargStat, SenseArea (trailing zero bytes left out), the buffer's
//      bytes afterwards for data in (trailing zeros left out; the rest of
//      the buffer is zero), and its duration on the tick count.
//   {"i":N,...,"pending":1}
//      a command that had not ended when the next one was sent or the run
//      ended (its wait gave up); it has no answer fields. Should it end
//      later, a line with "late":1 and its answer follows, which a replay
//      ignores: the program had stopped waiting for it.
//
// i counts the adapter-count answers and the commands together, from 0, in
// the order the program asked them; a replay compares them in that order.
//
// Readers bound what a capture can make them hold (platform/sim/
// capture_reader.h): a capture beyond those bounds is refused, never a
// valid one of a firmware update.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/aspi.h"

inline constexpr const char* kCaptureFormat = "quorvanta-capture";
inline constexpr int kCaptureVersion = 1;
// The largest package file a capture holds: the firmware image (526,336
// bytes) is the largest file of a package.
inline constexpr std::size_t kCaptureFileMax = 526336;

struct CaptureFile {
  std::string name;  // relative to the package folder
  int line = 0;      // the capture's line it was read from
  std::vector<BYTE> bytes;
};

struct CaptureCommand {
  BYTE adapter = 0;
  BYTE target = 0;
  std::vector<BYTE> cdb;
  BYTE flags = 0;
  DWORD length = 0;
  std::vector<BYTE> data_out;  // whole buffer (length bytes) for data out
  bool ended = true;
  BYTE status = 0;
  BYTE host_status = 0;
  BYTE target_status = 0;
  std::vector<BYTE> sense;    // trailing zeros left out
  std::vector<BYTE> data_in;  // trailing zeros left out
  DWORD ms = 0;
};

struct CaptureEvent {
  bool adapters = false;  // an adapter-count answer, else a command
  DWORD support_info = 0;
  CaptureCommand command;
};

struct Capture {
  int version = kCaptureVersion;
  std::string program;
  std::string platform;
  std::string family;  // "98" or "nt"
  LANGID lang = 0x0409;
  DWORD ticks = 0;
  std::vector<std::string> args;
  std::vector<CaptureFile> files;
  std::vector<CaptureEvent> events;
};

// One line describing a command as a replay compares it (address, CDB,
// direction, length, data out digest), for divergence reports.
std::string DescribeSentCommand(const CaptureCommand& command);
// The comparable part of a request the program hands over.
CaptureCommand SentCommandOf(const SRB_ExecSCSICmd& request);
// True when two commands were sent alike: address, CDB, flags, length, data.
bool SameSentCommand(const CaptureCommand& a, const CaptureCommand& b);

std::string Sha256Hex(const BYTE* data, std::size_t size);
// `text` as a JSON string, quotes included: the captures' and the history's
// one way of writing one.
std::string JsonQuoted(std::string_view text);

// The recording layer: stands in front of the platform's aspi group and
// writes every adapter-count answer and every command to the capture as it
// ends. It adds its own completion routine to each request (the caller's
// runs right after it, with the caller's flags back in place), so the line
// is written the moment the layer below ends the command, whichever thread
// that happens on.
class CaptureRecorder final : public AspiLayer {
 public:
  // Creates or replaces `path` as platform/output_file.h does (no link
  // followed, no FIFO waited on) and writes the header and the package files.
  // Null with a one-line reason when the file cannot be written.
  static std::unique_ptr<CaptureRecorder> Open(const std::string& path, AspiLayer* inner,
                                               const Capture& header, std::string* error);
  ~CaptureRecorder() override;
  CaptureRecorder(const CaptureRecorder&) = delete;
  CaptureRecorder& operator=(const CaptureRecorder&) = delete;

  DWORD SupportInfo() override;
  DWORD Send(SRB_ExecSCSICmd* request) override;
  bool Holds(const SRB_ExecSCSICmd* request) const override;
  int DevicesRefused() const override { return inner_->DevicesRefused(); }

  // Only the questions a drive answers without changing (INQUIRY, TEST UNIT
  // READY, the vendor query 0xCC) reach the layer below; anything else ends
  // at once with SS_ERR and is recorded as refused. For rehearsals.
  void SetReadOnly(bool on) { read_only_ = on; }
  int refused() const { return refused_; }

 private:
  struct Outstanding {
    int index;
    DWORD sent_at;     // when the layer below handed the request back
    bool handed_back;  // false while its Send has not returned
    BYTE caller_flags;
    PostProc caller_routine;
    std::string out_field;
    bool pending_written;
  };
  CaptureRecorder(std::FILE* file, AspiLayer* inner, const Capture& header);
  static void Ended(SRB_ExecSCSICmd* request);
  void WriteEnd(SRB_ExecSCSICmd* request, const Outstanding& sent, bool late);
  void WritePendingBefore(int index);
  std::string OutField(const SRB_ExecSCSICmd& request);
  void WriteLine(const std::string& line);

  std::FILE* file_;
  AspiLayer* inner_;
  std::vector<CaptureFile> files_;
  std::set<std::string> blobs_;
  std::map<const SRB_ExecSCSICmd*, Outstanding> outstanding_;
  int next_index_ = 0;
  bool read_only_ = false;
  int refused_ = 0;
};

// The read-only questions of a rehearsal (see SetReadOnly).
bool IsReadOnlyCommand(const BYTE* cdb);
