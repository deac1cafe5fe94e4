// The monitor's fixed lines and its group's name, in one place: the
// monitor prints them and opcdiag quotes them in its verdicts.
#pragma once

// nb30.h, which a full windows.h pulls in, has a GROUP_NAME macro of its own.
#ifdef GROUP_NAME
#undef GROUP_NAME
#endif
constexpr wchar_t GROUP_NAME[] = L"grp 1";

constexpr char LINE_NOT_INSTANTIATED[] = " not instantiated";  // after the ProgID, no line break
constexpr char LINE_FOUND_TAGS[] = "found the following tags:";
constexpr char LINE_PROMPT[] = "press ENTER to start polling";
constexpr char LINE_ITEMS_OK[] = "Items OK";
constexpr char LINE_GROUP_RELEASED[] = "group released";
constexpr char LINE_SERVER_RELEASED[] = "server released";
