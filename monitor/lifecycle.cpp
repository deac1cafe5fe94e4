// The frame everything runs inside, once, in this order: open COM, connect,
// browse, the ENTER prompt, the group stage, release the server, close COM.
// Each failure ends its own stage, and a stop request (Ctrl+C, Ctrl+Break,
// closing the window) the stage in progress at its next clean point and the
// stages still to come; the frame goes on with the teardown of what exists.
#include "lifecycle.h"

#include "browse.h"
#include "connection.h"
#include "monitor_lines.h"
#include "output.h"
#include "stop_request.h"

int RunMonitor(ItemStage stage) {
  (void)CoInitialize(nullptr);

  IOPCServer *server = ConnectServer();
  if (server == nullptr) {
    PutWideText(SERVER_PROGID);
    PutText(LINE_NOT_INSTANTIATED);
  } else {
    TagNameTable names = BrowseTagNames(server, StopRequested);

    // A stop taken during the browse or at the prompt skips the group; one
    // taken during the registration or the polling ends them at the next
    // call.
    if (!StopRequested()) {
      PutLine(LINE_PROMPT);
      FlushStandardOutput();
      if (AwaitPromptLine(GetStdHandle(STD_INPUT_HANDLE))) RunGroupStage(server, names, stage, StopRequested);
    }

    server->Release();
    PutLine(LINE_SERVER_RELEASED);
    FreeTagNameTable(names);
  }

  CoUninitialize();
  FlushStandardOutput();
  return 0;
}
