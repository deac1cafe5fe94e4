// A log of when the first tag of the address space is read, kept for the
// benchmark: the spacing of those reads is the client's polling cycle as
// the server sees it. On only when BRENVICK_SIM_READ_LOG names a file.
#pragma once

namespace simserver {

// Appends the performance counter's time in milliseconds as one line.
void NoteFirstTagRead();

}  // namespace simserver
