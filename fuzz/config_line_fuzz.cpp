// The configuration: each line of the input is a line of zelk_config.txt.
#include "app/config_file.h"
#include "base/settings.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpProcess();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SettingsRecord settings = fuzz::PlausibleSettings();
  int number = 0;
  for (const std::string& line : fuzz::Lines(fuzz::Text(data, size))) ApplyConfigLine(settings, line, ++number);
  NormaliseScreenDir(settings.ScreenDir);
  CheckRconPort(settings);
  return 0;
}
