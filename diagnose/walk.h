// The walk through the monitor's stages against one server, in the order
// the monitor makes them: registration, activation, the server's status,
// browse, group, items, reads, teardown; then the verdict.
#pragma once

// Walks the stages for `name` (a ProgID or a braced CLSID) and prints the
// report. 0 when the monitor would show records, 1 otherwise.
int WalkStages(const wchar_t *name);
