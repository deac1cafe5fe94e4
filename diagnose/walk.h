// The walk through the monitor's stages against one server, in the
// monitor's order, then opcdiag's own calls, the teardown and the verdict.
#pragma once

// For `name` (a ProgID or a braced CLSID): 0 when the monitor would show
// records, 1 otherwise.
int WalkStages(const wchar_t *name);
