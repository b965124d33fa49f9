// The headless transcript: one UTF-8 line per event on the chosen stream
// ("dialog: ...", "message: ...", "answer: ...", "note: ...", "power: ...").
#pragma once

#include <cstdio>
#include <string_view>

// Null switches the transcript off (the default).
void SetTranscript(std::FILE* stream);
std::FILE* Transcript();
// Writes `kind: text` where text is UTF-8; CR LF and lone LF inside become
// the two characters \n.
void TranscriptLine(std::string_view kind, std::string_view utf8_text);
