// Entry of opcdiag: why the monitor shows what it shows.
#include "registration_facts.h"
#include "report.h"

int main() {
  ReportVerdict(L"not built yet");
  return 1;
}
