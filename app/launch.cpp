#include "app/launch.h"

#include "drive/channel.h"
#include "package/package_files.h"
#include "platform/dialogs/model.h"
#include "platform/dialogs/transcript.h"
#include "platform/dialogs/views.h"
#include "platform/platform.h"
#include "platform/trace.h"
#include "state/app_state.h"

void ResetLaunch() {
  ResetAppState();
  ResetChannel();
  ResetLoaderBytes();
  CloseTrace();
  SetTranscript(nullptr);
  SetListedDriveQuery(nullptr);
  SetListedDriveModelQuery(nullptr);
  dialog_model::Reset();
  InstallPlatform(Platform{});
}
