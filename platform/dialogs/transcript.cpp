#include "platform/dialogs/transcript.h"

#include <unistd.h>

#include <string>

#include "platform/events.h"
#include "platform/text_convert.h"

namespace {

std::FILE* g_stream = nullptr;
// The progress line stands on standard error (a terminal) with no line end
// yet, each new one written over it.
std::size_t g_progress_width = 0;

// Ends the progress line, so that what is written next starts a line.
void EndProgressLine() {
  if (g_progress_width == 0) return;
  std::fputc('\n', stderr);
  std::fflush(stderr);
  g_progress_width = 0;
}

// Once a second during a write, where a person watches standard error.
void ShowProgressLine(std::string_view cp932_text) {
  if (cp932_text.empty()) {
    EndProgressLine();
    return;
  }
  if (isatty(STDERR_FILENO) == 0) return;
  const std::string line = "quorvanta: " + Cp932ToUtf8(cp932_text);
  // Blanks over what the last one left beyond its end.
  const std::size_t width = line.size();
  std::fprintf(stderr, "\r%s%*s", line.c_str(),
               static_cast<int>(g_progress_width > width ? g_progress_width - width : 0), "");
  std::fflush(stderr);
  g_progress_width = width;
}

// `kind: text` where text is UTF-8; CR LF and lone LF inside become the two
// characters \n.
void TranscriptLine(std::string_view kind, std::string_view utf8_text) {
  if (g_stream == nullptr) return;
  EndProgressLine();
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

void WriteEvent(const PlatformEvent& event) {
  switch (event.kind) {
    case PlatformEventKind::kDialogShown:
      TranscriptLine("dialog", Cp932ToUtf8(event.text));
      break;
    case PlatformEventKind::kMessageShown:
      TranscriptLine("message", Cp932ToUtf8(event.text));
      break;
    case PlatformEventKind::kMessageAnswered:
      TranscriptLine("answer", event.text);
      break;
    case PlatformEventKind::kNoteShown:
      TranscriptLine("note", Cp932ToUtf8(event.text));
      break;
    case PlatformEventKind::kPowerRequest:
      TranscriptLine("power", event.text);
      break;
    case PlatformEventKind::kPowerNotCarriedOut:
      break;  // the views show it; the transcript already has the request
    case PlatformEventKind::kWriteHeld:
      // Beside the transcript, never in it; the end of the write takes
      // nothing back there. A closed standard error changes nothing.
      if (event.text.empty()) break;
      EndProgressLine();
      std::fprintf(stderr, "quorvanta: %s\n", Cp932ToUtf8(event.text).c_str());
      std::fflush(stderr);
      break;
    case PlatformEventKind::kWriteProgress:
      ShowProgressLine(event.text);
      break;
    case PlatformEventKind::kHostNote:
      EndProgressLine();
      std::fprintf(stderr, "quorvanta: %s\n", std::string(event.text).c_str());
      std::fflush(stderr);
      break;
  }
}

}  // namespace

void WriteTranscriptEvent(const PlatformEvent& event) { WriteEvent(event); }

void SetTranscript(std::FILE* stream) {
  g_stream = stream;
  SetPlatformEventSink(stream == nullptr ? nullptr : WriteEvent);
}
