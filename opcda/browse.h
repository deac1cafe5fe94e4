// The flat browse of the server's address space and the table of tag names
// it produces.
#pragma once

#include "call_results.h"
#include "opcda.h"
#include "stop_check.h"

#include <cstddef>

// The browsed tag names in delivery order. `block` holds `count` zero-filled
// slots of `slotLength` characters; entry i points at slot i once it was
// filled and is null otherwise (the second enumeration delivered fewer
// names). An empty table has count 0 and nothing allocated.
struct TagNameTable {
  LONG count;
  LONG slotLength;
  wchar_t *block;
  wchar_t **entries;
};

// Lists every tag on standard output under "found the following tags:" and
// returns their names. Never fails as such: every failure gives an empty
// table.
TagNameTable BrowseTagNames(IOPCServer *server);
// The same, asking `stopRequested` before each name and before the second
// enumeration; a stop ends the browse there with an empty table.
TagNameTable BrowseTagNames(IOPCServer *server, StopCheck stopRequested);

// The same, with *seen, when given, saying what each step returned.
TagNameTable BrowseTagNames(IOPCServer *server, StopCheck stopRequested, BrowseResult *seen);

// The size in bytes of a block of `count` slots of `slotLength` characters:
// 1 with the size in *bytes, 0 when it cannot be represented.
int TagBlockBytes(LONG count, size_t slotLength, size_t *bytes);

// Frees what the table holds and leaves it empty.
void FreeTagNameTable(TagNameTable &table);
