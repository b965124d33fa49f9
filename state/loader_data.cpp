#include "state/loader_data.h"

#include "state/app_state.h"

static_assert(MaxPayloadLength == kSharedBufferSize - LoaderHeaderSize);

int LoaderByte(int at) { return at >= 0 && at < g_app.LoaderDataBytes ? g_app.LoaderData[at] : 0; }

int LoaderPayloadLength() { return (LoaderByte(62) << 8) | LoaderByte(63); }
