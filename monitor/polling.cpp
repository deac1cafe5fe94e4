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

void WriteText(const PollingPlatform &platform, const wchar_t *text) { platform.write(text, wcslen(text)); }

// A record is gathered into one write; only a name too long for the buffer
// goes out in a write of its own.
struct RecordBuffer {
  wchar_t text[4 * TEXT_BUFFER_SIZE];
  size_t used;
};

void Flush(const PollingPlatform &platform, RecordBuffer &record) {
  if (record.used > 0) platform.write(record.text, record.used);
  record.used = 0;
}

void Append(const PollingPlatform &platform, RecordBuffer &record, const wchar_t *text) {
  const size_t capacity = sizeof record.text / sizeof record.text[0];
  const size_t length = wcslen(text);
  if (record.used + length > capacity) Flush(platform, record);
  if (length > capacity) {
    platform.write(text, length);
    return;
  }
  wmemcpy(record.text + record.used, text, length);
  record.used += length;
}

// Value and quality texts are ASCII and shorter than TEXT_BUFFER_SIZE.
void AppendNarrow(const PollingPlatform &platform, RecordBuffer &record, const char *text) {
  wchar_t wide[TEXT_BUFFER_SIZE];
  size_t i = 0;
  for (; text[i] != '\0' && i + 1 < TEXT_BUFFER_SIZE; ++i) wide[i] = static_cast<unsigned char>(text[i]);
  wide[i] = L'\0';
  Append(platform, record, wide);
}

void WriteRecord(const PollingPlatform &platform, const wchar_t *name, const char *value, const wchar_t *time,
                 const char *quality) {
  RecordBuffer record;
  record.used = 0;
  Append(platform, record, L"[");
  Append(platform, record, name != nullptr ? name : L"");
  Append(platform, record, L"=");
  AppendNarrow(platform, record, value);
  Append(platform, record, L" ");
  Append(platform, record, time);
  Append(platform, record, L" ");
  AppendNarrow(platform, record, quality);
  Append(platform, record, L"]\t");
  Flush(platform, record);
}

}  // namespace

const PollingPlatform CONSOLE_POLLING_PLATFORM = {WaitPeriod, ClearConsole, KeyWaiting, ReadKey, StopRequested,
                                                  WriteConsoleDevice};

void PollItems(IOPCItemMgt *itemMgt, const TagNameTable &names, const ItemHandleTable &handles) {
  PollItemsOn(CONSOLE_POLLING_PLATFORM, itemMgt, names, handles);
}

void PollItemsOn(const PollingPlatform &platform, IOPCItemMgt *itemMgt, const TagNameTable &names,
                 const ItemHandleTable &handles) {
  ItemSample sample;
  char valueText[TEXT_BUFFER_SIZE];
  wchar_t timeText[TEXT_BUFFER_SIZE];
  char qualityText[TEXT_BUFFER_SIZE];
  const LONG count = names.count < handles.count ? names.count : handles.count;

  for (;;) {
    platform.sleep(POLL_PERIOD_MS);
    platform.clearScreen();
    // A stop request ends the loop like ESC, between two cycles' reads.
    if (platform.stopRequested()) return;
    if (platform.keyWaiting() && platform.readKey() == KEY_ESCAPE) return;

    int column = 0;
    for (LONG i = 0; i < count; ++i) {
      VariantInit(&sample.value);
      if (!ReadItemSample(itemMgt, handles.handles[i], sample)) continue;
      TimeText(sample.timeStamp, timeText);
      QualityText(sample.quality, qualityText);
      ValueText(sample.value, valueText);
      WriteRecord(platform, names.entries[i], valueText, timeText, qualityText);
      VariantClear(&sample.value);
      if (column < RECORDS_PER_LINE - 1) {
        ++column;
      } else {
        WriteText(platform, L"\r\n");
        column = 0;
      }
    }
    WriteText(platform, L"\r\n\r\nPress ESC to exit");
  }
}
