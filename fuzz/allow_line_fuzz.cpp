// The allow-list: each line of the input is a line of allow_connections.txt;
// the lines the loader accepts decide a supervision run over three players
// (one with a client, two without).
#include "app/allow_list.h"
#include "fuzz_support.h"
#include "supervision/supervise.h"
#include "registry/tables.h"


extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpProcess();
  fuzz::Answer("zelk_stat",
               "\\host\\\\de_dust2\\\\Bob\\\\10.0.0.5:27005\\\\Ann\\\\10.0.0.6\\\\Eve\\\\192.168.1.20:27005\\");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::SetUpInput();
  std::vector<std::string> allowList;
  for (const std::string& line : fuzz::Lines(fuzz::Text(data, size))) {
    // What ReadAllowListFile keeps of the file.
    if (!line.empty() && line[0] != ';' && IsAllowLineValid(line)) allowList.push_back(line);
  }
  TServerState& state = fuzz::State();
  {
    TBusyGuard busy(state.Tables);
    AddClient(busy, "Ann", "ID-Ann", "10.0.0.6");
  }
  state.Supervision.Run(allowList, [] {});
  return 0;
}
