// The polling loop. Each cycle: wait, clear, look at one key, then one
// record "[name=value time quality]" and a tab per readable item, a line
// break after every third, and the ESC prompt. Records and the prompt go to
// the console device, not standard output.
#include "polling.h"

#include <conio.h>

#include <cstdlib>
#include <cwchar>

#include "read.h"
#include "record_text.h"
#include "stop_request.h"

#include "output.h"

namespace {

void WaitPeriod(DWORD milliseconds) { Sleep(milliseconds); }
// "cls" clears the console only when it writes to it: with standard output
// redirected it would write into the file instead (a form feed on Windows)
// and leave the screen as it was. The console device is then cleared
// directly.
void ClearConsole() {
  if (StandardOutputIsConsole()) {
    (void)system("cls");
  } else {
    ClearConsoleDevice();
  }
}
int KeyWaiting() { return _kbhit(); }
int ReadKey() { return _getch(); }

// The performance counter: the tick count steps by about 16 ms on Windows,
// a third of the latency bound.
DWORD Milliseconds() {
  static LARGE_INTEGER frequency = {};
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const LONGLONG seconds = now.QuadPart / frequency.QuadPart;
  const LONGLONG rest = now.QuadPart % frequency.QuadPart;
  return static_cast<DWORD>(seconds * 1000 + rest * 1000 / frequency.QuadPart);
}

void GatherWide(TextGather &screen, const wchar_t *text) { GatherText(screen, text, wcslen(text)); }

// Value and quality texts are ASCII and shorter than TEXT_BUFFER_SIZE.
void GatherNarrow(TextGather &screen, const char *text) {
  wchar_t wide[TEXT_BUFFER_SIZE];
  size_t i = 0;
  for (; text[i] != '\0' && i + 1 < TEXT_BUFFER_SIZE; ++i) wide[i] = static_cast<unsigned char>(text[i]);
  GatherText(screen, wide, i);
}

void GatherRecord(TextGather &screen, const wchar_t *name, const char *value, const wchar_t *time,
                  const char *quality) {
  GatherWide(screen, L"[");
  GatherName(screen, name);
  GatherWide(screen, L"=");
  GatherNarrow(screen, value);
  GatherWide(screen, L" ");
  GatherWide(screen, time);
  GatherWide(screen, L" ");
  GatherNarrow(screen, quality);
  GatherWide(screen, L"]\t");
}

}  // namespace

const PollingPlatform CONSOLE_POLLING_PLATFORM = {WaitPeriod,    ClearConsole,       KeyWaiting,  ReadKey,
                                                  StopRequested, WriteConsoleDevice, Milliseconds};

void PollItems(IOPCItemMgt *itemMgt, const TagNameTable &names, const ItemHandleTable &handles) {
  // "Items OK" is on screen before the first wait, not only after it.
  FlushStandardOutput();
  PollItemsOn(CONSOLE_POLLING_PLATFORM, itemMgt, names, handles);
}

void PollItemsOn(const PollingPlatform &platform, IOPCItemMgt *itemMgt, const TagNameTable &names,
                 const ItemHandleTable &handles) {
  ItemSample sample;
  char valueText[TEXT_BUFFER_SIZE];
  wchar_t timeText[TEXT_BUFFER_SIZE];
  char qualityText[TEXT_BUFFER_SIZE];
  const LONG count = names.count < handles.count ? names.count : handles.count;

  // A cycle's screen goes out in large pieces: when the gather is full,
  // before a read that would keep a record waiting past the bound, and at
  // the end of the cycle, so the wait, the clear and the key check never
  // find text held back.
  TextGather screen;
  screen.writer = platform.write;
  screen.used = 0;

  for (;;) {
    platform.sleep(POLL_PERIOD_MS);
    platform.clearScreen();
    // A stop request ends the loop like ESC.
    if (platform.stopRequested()) return;
    if (platform.keyWaiting() && platform.readKey() == KEY_ESCAPE) return;

    int column = 0;
    DWORD last = platform.clock();
    DWORD step = 0;  // how long the last item took: the guess for the next
    DWORD oldest = last;
    for (LONG i = 0; i < count; ++i) {
      // A stop between two reads ends the cycle there: a slow server's cycle
      // can outlast the time the system gives after closing the window. The
      // teardown follows on a cleared screen, as after ESC.
      if (i > 0 && platform.stopRequested()) {
        platform.clearScreen();
        return;
      }
      if (screen.used > 0 && (last - oldest) + step >= RECORD_LATENCY_MS) FlushGather(screen);
      VariantInit(&sample.value);
      const bool read = ReadItemSample(itemMgt, handles.handles[i], sample);
      const DWORD now = platform.clock();
      step = now - last;
      last = now;
      if (!read) continue;
      if (screen.used == 0) oldest = now;
      TimeText(sample.timeStamp, timeText);
      QualityText(sample.quality, qualityText);
      ValueText(sample.value, valueText);
      GatherRecord(screen, names.entries[i], valueText, timeText, qualityText);
      VariantClear(&sample.value);
      if (column < RECORDS_PER_LINE - 1) {
        ++column;
      } else {
        GatherWide(screen, L"\r\n");
        column = 0;
      }
    }
    GatherWide(screen, L"\r\n\r\nPress ESC to exit");
    FlushGather(screen);
  }
}
