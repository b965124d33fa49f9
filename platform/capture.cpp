#include "platform/capture.h"

#include <atomic>
#include <cstring>
#include <utility>

#include "platform/clock.h"
#include "platform/output_file.h"

namespace {

// ---- digests and encodings ----

constexpr std::uint32_t kSha256Rounds[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void Sha256Block(std::uint32_t h[8], const BYTE* p) {
  std::uint32_t w[64];
  for (int i = 0; i < 16; ++i) {
    w[i] = (std::uint32_t{p[4 * i]} << 24) | (std::uint32_t{p[4 * i + 1]} << 16) |
           (std::uint32_t{p[4 * i + 2]} << 8) | p[4 * i + 3];
  }
  for (int i = 16; i < 64; ++i) {
    std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t t1 = k + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                       kSha256Rounds[i] + w[i];
    std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    k = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += k;
}

constexpr char kHexDigits[] = "0123456789abcdef";

std::string HexByte(BYTE b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", b);
  return text;
}

// "12 00 ff" for the bytes.
std::string SpacedHex(const BYTE* data, std::size_t size) {
  std::string out;
  out.reserve(size * 3);
  for (std::size_t i = 0; i < size; ++i) {
    if (i > 0) out += ' ';
    out += kHexDigits[data[i] >> 4];
    out += kHexDigits[data[i] & 15];
  }
  return out;
}

std::size_t WithoutTrailingZeros(const BYTE* data, std::size_t size) {
  while (size > 0 && data[size - 1] == 0) --size;
  return size;
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const std::vector<BYTE>& data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < data.size(); i += 3) {
    std::uint32_t n = std::uint32_t{data[i]} << 16;
    if (i + 1 < data.size()) n |= std::uint32_t{data[i + 1]} << 8;
    if (i + 2 < data.size()) n |= data[i + 2];
    out += kBase64[(n >> 18) & 63];
    out += kBase64[(n >> 12) & 63];
    out += i + 1 < data.size() ? kBase64[(n >> 6) & 63] : '=';
    out += i + 2 < data.size() ? kBase64[n & 63] : '=';
  }
  return out;
}

// ---- one flat JSON object per line ----

const char* DirectionName(BYTE flags) {
  if ((flags & SRB_DIR_IN) != 0) return "in";
  if ((flags & SRB_DIR_OUT) != 0) return "out";
  return "none";
}

int CdbLength(const SRB_ExecSCSICmd& request) {
  return request.SRB_CDBLen <= sizeof request.CDBByte ? request.SRB_CDBLen : 16;
}

// One recorder per process: completion routines carry no context.
CaptureRecorder* g_recorder = nullptr;
// Commands can end on a thread of the layer's (Windows) while the program's
// thread sends the next one; a spin lock keeps the lines whole.
std::atomic_flag g_lock = ATOMIC_FLAG_INIT;

struct SpinLock {
  SpinLock() {
    while (g_lock.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~SpinLock() { g_lock.clear(std::memory_order_release); }
};

}  // namespace

std::string JsonQuoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Sha256Hex(const BYTE* data, std::size_t size) {
  std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::size_t whole = size / 64 * 64;
  for (std::size_t i = 0; i < whole; i += 64) Sha256Block(h, data + i);
  BYTE tail[128] = {};
  std::size_t rest = size - whole;
  if (rest > 0) std::memcpy(tail, data + whole, rest);
  tail[rest] = 0x80;
  std::size_t tail_size = rest < 56 ? 64 : 128;
  std::uint64_t bits = static_cast<std::uint64_t>(size) * 8;
  for (int i = 0; i < 8; ++i) tail[tail_size - 1 - i] = static_cast<BYTE>(bits >> (8 * i));
  Sha256Block(h, tail);
  if (tail_size == 128) Sha256Block(h, tail + 64);
  std::string out;
  for (std::uint32_t word : h) {
    for (int shift = 28; shift >= 0; shift -= 4) out += kHexDigits[(word >> shift) & 15];
  }
  return out;
}

bool IsReadOnlyCommand(const BYTE* cdb) {
  return cdb[0] == 0x12 || cdb[0] == 0x00 || cdb[0] == 0xCC;
}

CaptureCommand SentCommandOf(const SRB_ExecSCSICmd& request) {
  CaptureCommand c;
  c.adapter = request.SRB_HaId;
  c.target = request.SRB_Target;
  c.cdb.assign(request.CDBByte, request.CDBByte + CdbLength(request));
  c.flags = request.SRB_Flags;
  c.length = request.SRB_BufLen;
  if ((request.SRB_Flags & SRB_DIR_OUT) != 0 && request.SRB_BufPointer != nullptr) {
    c.data_out.assign(request.SRB_BufPointer, request.SRB_BufPointer + request.SRB_BufLen);
  }
  return c;
}

bool SameSentCommand(const CaptureCommand& a, const CaptureCommand& b) {
  return a.adapter == b.adapter && a.target == b.target && a.cdb == b.cdb && a.flags == b.flags &&
         a.length == b.length && a.data_out == b.data_out;
}

std::string DescribeSentCommand(const CaptureCommand& c) {
  std::string text = std::to_string(c.adapter) + ":" + std::to_string(c.target) +
                     " cdb=" + SpacedHex(c.cdb.data(), c.cdb.size()) +
                     " flags=" + HexByte(c.flags) + " dir=" + DirectionName(c.flags) +
                     " len=" + std::to_string(c.length);
  if (!c.data_out.empty()) {
    text += " out=sha256:" + Sha256Hex(c.data_out.data(), c.data_out.size()).substr(0, 16);
  }
  return text;
}

// ---- recording ----

std::unique_ptr<CaptureRecorder> CaptureRecorder::Open(const std::string& path, AspiLayer* inner,
                                                       const Capture& header, std::string* error) {
  std::FILE* file = CreateOutputFile(path, "capture file", error);
  if (file == nullptr) return nullptr;
  return std::unique_ptr<CaptureRecorder>(new CaptureRecorder(file, inner, header));
}

CaptureRecorder::CaptureRecorder(std::FILE* file, AspiLayer* inner, const Capture& header)
    : file_(file), inner_(inner), files_(header.files) {
  g_recorder = this;
  std::string line = std::string("{\"capture\":") + JsonQuoted(kCaptureFormat) +
                     ",\"version\":" + std::to_string(kCaptureVersion) +
                     ",\"program\":" + JsonQuoted(header.program) +
                     ",\"platform\":" + JsonQuoted(header.platform) +
                     ",\"family\":" + JsonQuoted(header.family);
  char lang[16];
  std::snprintf(lang, sizeof lang, "0x%04X", header.lang);
  line += std::string(",\"lang\":\"") + lang + "\",\"ticks\":" + std::to_string(header.ticks) +
          ",\"args\":[";
  for (std::size_t i = 0; i < header.args.size(); ++i) {
    if (i > 0) line += ',';
    line += JsonQuoted(header.args[i]);
  }
  std::string digests;
  for (const auto& f : header.files) {
    digests +=
        (digests.empty() ? "" : " ") + f.name + "=" + Sha256Hex(f.bytes.data(), f.bytes.size());
  }
  line += "],\"files\":" + JsonQuoted(digests) + "}";
  WriteLine(line);
  for (const auto& f : header.files) {
    WriteLine("{\"file\":" + JsonQuoted(f.name) + ",\"size\":" + std::to_string(f.bytes.size()) +
              ",\"sha256\":\"" + Sha256Hex(f.bytes.data(), f.bytes.size()) + "\",\"b64\":\"" +
              Base64(f.bytes) + "\"}");
  }
}

CaptureRecorder::~CaptureRecorder() {
  {
    SpinLock lock;
    WritePendingBefore(next_index_);
    g_recorder = nullptr;
  }
  std::fclose(file_);
}

void CaptureRecorder::WriteLine(const std::string& line) {
  std::fputs(line.c_str(), file_);
  std::fputc('\n', file_);
  // Flushed per line so that a crash keeps everything up to it.
  std::fflush(file_);
}

DWORD CaptureRecorder::SupportInfo() {
  DWORD answer = inner_->SupportInfo();
  SpinLock lock;
  int index = next_index_++;
  WritePendingBefore(index);
  char text[16];
  std::snprintf(text, sizeof text, "0x%04lX", static_cast<unsigned long>(answer));
  WriteLine("{\"i\":" + std::to_string(index) + ",\"adapters\":\"" + text + "\"}");
  return answer;
}

std::string CaptureRecorder::OutField(const SRB_ExecSCSICmd& request) {
  if ((request.SRB_Flags & SRB_DIR_OUT) == 0 || request.SRB_BufPointer == nullptr) return "";
  const BYTE* data = request.SRB_BufPointer;
  const std::size_t length = request.SRB_BufLen;
  if (length < 64) return SpacedHex(data, length);
  std::string digest = Sha256Hex(data, length);
  if (blobs_.insert(digest).second) {
    // A firmware chunk is a piece of a package file: named, not copied. The
    // WRITE BUFFER offset says where; the loader payload starts at 64.
    const std::size_t used = WithoutTrailingZeros(data, length);
    std::size_t hints[3] = {(std::size_t{request.CDBByte[3]} << 16) |
                                (std::size_t{request.CDBByte[4]} << 8) | request.CDBByte[5],
                            64, 0};
    std::string line;
    for (const auto& f : files_) {
      for (std::size_t at : hints) {
        if (!line.empty() || at >= f.bytes.size()) continue;
        // The chunk's zeros past the file's bytes are the zeros after them.
        if (used > f.bytes.size() - at || std::memcmp(f.bytes.data() + at, data, used) != 0) {
          continue;
        }
        const std::size_t n = used;
        line = "{\"blob\":\"" + digest + "\",\"len\":" + std::to_string(length) +
               ",\"file\":" + JsonQuoted(f.name) + ",\"at\":" + std::to_string(at) +
               ",\"n\":" + std::to_string(n) + "}";
      }
    }
    if (line.empty()) {
      line = "{\"blob\":\"" + digest + "\",\"len\":" + std::to_string(length) + ",\"b64\":\"" +
             Base64(std::vector<BYTE>(data, data + used)) + "\"}";
    }
    WriteLine(line);
  }
  return "sha256:" + digest;
}

DWORD CaptureRecorder::Send(SRB_ExecSCSICmd* request) {
  // A record the layer below still holds is refused there untouched; it is
  // no new command.
  if (inner_->Holds(request)) return inner_->Send(request);
  Outstanding sent{};
  {
    SpinLock lock;
    sent.index = next_index_++;
    WritePendingBefore(sent.index);
    sent.caller_flags = request->SRB_Flags;
    sent.caller_routine = (request->SRB_Flags & SRB_POSTING) != 0 ? request->SRB_PostProc : nullptr;
    sent.out_field = OutField(*request);
    sent.sent_at = GetTickCount();
    if (read_only_ && !IsReadOnlyCommand(request->CDBByte)) {
      // Never reaches the drive: ends here as a refused request.
      ++refused_;
      request->SRB_Status = SS_ERR;
      WriteEnd(request, sent, false);
      if (sent.caller_routine != nullptr) sent.caller_routine(request);
      return SS_ERR;
    }
    outstanding_[request] = sent;
    request->SRB_Flags = static_cast<BYTE>(request->SRB_Flags | SRB_POSTING);
    request->SRB_PostProc = &CaptureRecorder::Ended;
  }
  const DWORD result = inner_->Send(request);
  // The program's wait for the answer starts once the layer hands the request
  // back, and so does the recorded duration: a layer slow to take it (the
  // Windows pass-through looks anew for a device that went away, seconds
  // while the system finds it again) would otherwise make a replay answer
  // later than the program saw the answer. One that ended meanwhile took no
  // time for the program.
  SpinLock lock;
  auto found = outstanding_.find(request);
  if (found != outstanding_.end()) {
    found->second.sent_at = GetTickCount();
    found->second.handed_back = true;
  }
  return result;
}

bool CaptureRecorder::Holds(const SRB_ExecSCSICmd* request) const { return inner_->Holds(request); }

void CaptureRecorder::Ended(SRB_ExecSCSICmd* request) {
  PostProc caller = nullptr;
  {
    SpinLock lock;
    CaptureRecorder* self = g_recorder;
    auto found = [&] { return self != nullptr && self->outstanding_.count(request) != 0; };
    if (!found()) {
      // Run once already (the program may run a routine itself when the
      // status is set before the layer's own call): the caller's is in place.
      caller = request->SRB_PostProc == &CaptureRecorder::Ended ? nullptr : request->SRB_PostProc;
    } else {
      Outstanding sent = self->outstanding_[request];
      self->outstanding_.erase(request);
      request->SRB_Flags = sent.caller_flags;
      request->SRB_PostProc =
          (sent.caller_flags & SRB_POSTING) != 0 ? sent.caller_routine : nullptr;
      self->WriteEnd(request, sent, sent.pending_written);
      caller = sent.caller_routine;
    }
  }
  if (caller != nullptr) caller(request);
}

void CaptureRecorder::WriteEnd(SRB_ExecSCSICmd* request, const Outstanding& sent, bool late) {
  const SRB_ExecSCSICmd& r = *request;
  std::string line =
      "{\"i\":" + std::to_string(sent.index) + ",\"at\":\"" + std::to_string(r.SRB_HaId) + ":" +
      std::to_string(r.SRB_Target) + "\",\"cdb\":\"" +
      SpacedHex(r.CDBByte, static_cast<std::size_t>(CdbLength(r))) + "\",\"flags\":\"" +
      HexByte(sent.caller_flags) + "\",\"dir\":\"" + DirectionName(sent.caller_flags) +
      "\",\"len\":" + std::to_string(r.SRB_BufLen) + ",\"out\":\"" + sent.out_field + "\"";
  if (r.SRB_Status == SS_PENDING) {
    line += ",\"pending\":1}";
    WriteLine(line);
    return;
  }
  std::string data_in;
  if ((sent.caller_flags & SRB_DIR_IN) != 0 && r.SRB_BufPointer != nullptr) {
    data_in = SpacedHex(r.SRB_BufPointer, WithoutTrailingZeros(r.SRB_BufPointer, r.SRB_BufLen));
  }
  line += ",\"status\":\"" + HexByte(r.SRB_Status) + "\",\"ha\":\"" + HexByte(r.SRB_HaStat) +
          "\",\"targ\":\"" + HexByte(r.SRB_TargStat) + "\",\"sense\":\"" +
          SpacedHex(r.SenseArea, WithoutTrailingZeros(r.SenseArea, sizeof r.SenseArea)) +
          "\",\"in\":\"" + data_in +
          "\",\"ms\":" + std::to_string(sent.handed_back ? GetTickCount() - sent.sent_at : 0) +
          (late ? ",\"late\":1}" : "}");
  WriteLine(line);
}

// Commands sent before `index` that have not ended: the program has moved on
// without them (their waits gave up), so they are written as pending now.
void CaptureRecorder::WritePendingBefore(int index) {
  std::map<int, SRB_ExecSCSICmd*> due;  // in the order they were sent
  for (auto& [request, sent] : outstanding_) {
    if (!sent.pending_written && sent.index < index)
      due[sent.index] = const_cast<SRB_ExecSCSICmd*>(request);
  }
  for (auto& [ignored, request] : due) {
    Outstanding& sent = outstanding_[request];
    sent.pending_written = true;
    SRB_ExecSCSICmd copy = *request;
    copy.SRB_Status = SS_PENDING;
    WriteEnd(&copy, sent, false);
  }
}
