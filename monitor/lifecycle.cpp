// The frame everything runs inside, once, in this order: open COM, connect,
// browse, the ENTER prompt, the group stage, release the server, close COM.
// Each failure ends its own stage, and a stop request (Ctrl+C, Ctrl+Break,
// closing the window) the stages still to come; the frame goes on with the
// teardown of what exists.
#include "lifecycle.h"

#include <cstdio>

#include "browse.h"
#include "connection.h"
#include "output.h"
#include "stop_request.h"

int RunMonitor(ItemStage stage) {
  (void)CoInitialize(nullptr);

  IOPCServer *server = ConnectServer();
  if (server == nullptr) {
    PutWideText(SERVER_PROGID);
    PutText(" not instantiated");
  } else {
    TagNameTable names = BrowseTagNames(server);

    // A stop taken during the browse or at the prompt skips the group.
    if (!StopRequested()) {
      PutLine("press ENTER to start polling");
      FlushStandardOutput();
      if (BeginPromptWait()) (void)getc(stdin);
      EndPromptWait();
      if (!StopRequested()) RunGroupStage(server, names, stage);
    }

    server->Release();
    PutLine("server released");
    FreeTagNameTable(names);
  }

  CoUninitialize();
  FlushStandardOutput();
  return 0;
}
