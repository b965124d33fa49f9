#include "platform/transcript.h"

#include <string>

namespace {
std::FILE* g_stream = nullptr;
}

void SetTranscript(std::FILE* stream) { g_stream = stream; }
std::FILE* Transcript() { return g_stream; }

void TranscriptLine(std::string_view kind, std::string_view utf8_text) {
  if (g_stream == nullptr) return;
  std::string line(kind);
  line += ": ";
  for (std::size_t i = 0; i < utf8_text.size(); ++i) {
    char c = utf8_text[i];
    if (c == '\r' && i + 1 < utf8_text.size() && utf8_text[i + 1] == '\n') continue;
    if (c == '\n') {
      line += "\\n";
    } else {
      line += c;
    }
  }
  line += '\n';
  std::fputs(line.c_str(), g_stream);
  std::fflush(g_stream);
}
