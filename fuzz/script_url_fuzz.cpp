// The custom script URL: any text either fails with an empty host or gives
// a host, a port within TCP's range and a page that ends in "/custom.sh".
#include <cstring>

#include "controller/settings/custom_script.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_host();
  std::string url(reinterpret_cast<const char*>(data), size);
  ScriptUrl out;
  int result = parse_script_url(url.c_str(), out);
  FUZZ_CHECK(result == 0 || result == 1);
  if (result == 1) {
    FUZZ_CHECK(out.host.empty() && out.page.empty());
    return 0;
  }
  FUZZ_CHECK(!out.host.empty());
  FUZZ_CHECK(out.port >= 1 && out.port <= 65535);
  const char* page = out.page.c_str();
  size_t len = strlen(page);
  FUZZ_CHECK(page[0] == '/' && len >= 10 && strcmp(page + len - 10, "/custom.sh") == 0);
  return 0;
}
