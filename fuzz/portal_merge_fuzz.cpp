// The merge of new portal settings into the portal's configuration file:
// a merge that fails leaves both files exactly as they were; one that
// succeeds keeps every line of the configuration, in place or replaced one
// for one, uses up the new-settings file and leaves nothing beside them.
// Both files are text: zero bytes are taken out of the input.
#include <algorithm>
#include <string>

#include "controller/settings/portal.h"
#include "fuzz/fuzz_support.h"

namespace {

size_t lines(const std::string& text) {
  size_t n = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
  return n + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

std::string text_of(std::string bytes) {
  std::replace(bytes.begin(), bytes.end(), '\0', 'N');
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FakeHost& h = fuzz_host();
  FuzzInput in(data, size);
  int kind = in.byte() % 3;
  size_t config_len = static_cast<size_t>(in.byte()) << 8 | in.byte();
  std::string all = text_of(in.rest());
  std::string config = all.substr(0, std::min(config_len, all.size()));
  std::string updates = all.substr(config.size());

  const char* file = kind == 1 ? "/etc/nodogsplash/nodogsplash.conf" : "/etc/chilli/defaults";
  const char* news = kind == 1 ? "/tmp/splash_config" : "/tmp/chilli_config";
  h.write(file, config);
  h.write(news, updates);
  int result = merge_portal_config(file, news, kind);
  FUZZ_CHECK(!h.exists(std::string(file) + ".tmp"));
  if (result != 0) {
    FUZZ_CHECK(h.read(file) == config && h.read(news) == updates);
    return 0;
  }
  FUZZ_CHECK(!h.exists(news));
  std::string merged = h.read(file);
  FUZZ_CHECK(lines(merged) == lines(config));
  return 0;
}
