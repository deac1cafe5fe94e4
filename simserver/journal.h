// What the server was told, for tests that check a client's teardown from
// the server's side: one line per event, appended to the file named by
// BRENVICK_SIM_JOURNAL; nothing when it is unset.
#pragma once

namespace simserver {

// Appends `line` and a line break.
void Journal(const char *line);

}  // namespace simserver
