// The ban base: the input is zelk_bans.txt. The minute's count-down reads its
// lines, and a connect's look-up reads the file.
#include "fuzz_support.h"
#include "bans/ban_base.h"
#include "rcon/text_fields.h"
#include "platform/files.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpProcess();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = fuzz::Text(data, size);
  const std::vector<std::string> lines = platform::SplitTextLines(text);
  CountDownBanLines(lines);
  fuzz::SetUpInput();
  if (!platform::WriteWholeFile(BanBasePath(), text)) return 0;
  std::string duration;
  TBanFile().IsBanned(lines.empty() ? std::string("ID") : ExtractQuoted(lines.back(), 2), &duration);
  return 0;
}
