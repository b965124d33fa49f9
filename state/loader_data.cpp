#include "state/loader_data.h"

#include "state/app_state.h"

static_assert(MaxPayloadLength == kSharedBufferSize - LoaderHeaderSize);

int LoaderPayloadLength() { return (g_app.SharedBuffer[62] << 8) | g_app.SharedBuffer[63]; }
