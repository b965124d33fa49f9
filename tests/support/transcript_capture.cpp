#include "tests/support/transcript_capture.h"

#include "platform/dialogs/transcript.h"

TranscriptCapture::TranscriptCapture() : file_(std::tmpfile()) { SetTranscript(file_); }

TranscriptCapture::~TranscriptCapture() {
  SetTranscript(nullptr);
  if (file_ != nullptr) std::fclose(file_);
}

std::string TranscriptCapture::Text() {
  std::string text;
  if (file_ == nullptr) return text;
  std::fflush(file_);
  std::rewind(file_);
  char buffer[512];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
  std::fseek(file_, 0, SEEK_END);
  return text;
}

std::vector<std::string> TranscriptCapture::Lines() {
  std::vector<std::string> lines;
  const std::string text = Text();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> TranscriptCapture::Of(std::string_view kind) {
  std::vector<std::string> texts;
  const std::string prefix = std::string(kind) + ": ";
  for (const std::string& line : Lines()) {
    if (line.rfind(prefix, 0) == 0) texts.push_back(line.substr(prefix.size()));
  }
  return texts;
}
