// The headless transcript of a test, captured in a temporary file while the
// capture lives.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

class TranscriptCapture {
 public:
  TranscriptCapture();   // starts the transcript into a fresh temporary file
  ~TranscriptCapture();  // stops it
  TranscriptCapture(const TranscriptCapture&) = delete;
  TranscriptCapture& operator=(const TranscriptCapture&) = delete;

  // Everything written so far.
  std::string Text();
  // The lines so far, without their line ends.
  std::vector<std::string> Lines();
  // The texts of the lines of one kind ("message", "note", ...) so far.
  std::vector<std::string> Of(std::string_view kind);
  std::FILE* stream() const { return file_; }

 private:
  std::FILE* file_;
};
