// The frame everything runs inside, once, in this order: open COM, connect,
// browse, the ENTER prompt, the group stage, release the server, close COM.
// Each failure ends its own stage; the frame goes on with the teardown of
// what exists.
#include "lifecycle.h"

#include <cstdio>

#include "browse.h"
#include "connection.h"
#include "output.h"

int RunMonitor(ItemStage stage) {
  (void)CoInitialize(nullptr);

  IOPCServer *server = ConnectServer();
  if (server == nullptr) {
    PutWideText(SERVER_PROGID);
    PutText(" not instantiated");
  } else {
    TagNameTable names = BrowseTagNames(server);

    PutLine("press ENTER to start polling");
    FlushStandardOutput();
    (void)getc(stdin);

    RunGroupStage(server, names, stage);

    server->Release();
    PutLine("server released");
    FreeTagNameTable(names);
  }

  CoUninitialize();
  FlushStandardOutput();
  return 0;
}
