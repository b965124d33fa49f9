#include "platform/events.h"

namespace {
PlatformEventSink g_sink = nullptr;
}

void SetPlatformEventSink(PlatformEventSink sink) { g_sink = sink; }

void RaisePlatformEvent(PlatformEventKind kind, std::string_view text) {
  if (g_sink != nullptr) g_sink(PlatformEvent{kind, text});
}
