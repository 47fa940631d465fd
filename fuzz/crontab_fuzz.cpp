// The reboot schedule's rewrite of root's crontab: whatever the crontab
// and the schedule, every job that is not a reboot line stays, whole and in
// order; an enabled schedule leaves a reboot line at minute 0; nothing is
// left beside the crontab. The crontab is text: zero bytes are taken out.
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "controller/settings/reboot_settings.h"
#include "fuzz/fuzz_support.h"

namespace {

const char kCrontab[] = "/etc/crontabs/root";

// The jobs that are not reboot lines; as the rewrite reads a line in
// pieces of 1023 bytes, the first piece decides.
std::vector<std::string> other_jobs(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.substr(0, 1023).find("reboot") == std::string::npos) out.push_back(line);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FakeHost& h = fuzz_host();
  FuzzInput in(data, size);
  int enable = in.byte() % 3;
  const char dates[] = {'0', 'd', 'w', 'm', 'D', 'x'};
  char date[2] = {dates[in.byte() % sizeof(dates)], '\0'};
  int hour = static_cast<int8_t>(in.byte());
  bool exists = in.byte() % 4 != 0;
  std::string crontab = in.rest();
  std::replace(crontab.begin(), crontab.end(), '\0', 'N');

  h.clock = 1700000000 + static_cast<time_t>(size) * 86400;  // any weekday
  if (exists) {
    h.write(kCrontab, crontab);
  } else {
    h.remove(kCrontab);
  }
  write_reboot_schedule(enable, date, hour);
  FUZZ_CHECK(!h.exists("/etc/crontabs/root.tmp"));
  std::string after = h.exists(kCrontab) ? h.read(kCrontab) : "";
  FUZZ_CHECK(other_jobs(after) == other_jobs(exists ? crontab : ""));
  bool scheduled = enable == 1 && date[0] != '0' && date[0] != 'x';
  if (scheduled) {
    size_t reboots = 0;
    std::stringstream lines(after);
    for (std::string line; std::getline(lines, line);) {
      if (line.find("/sbin/do_reboot 93") != std::string::npos) ++reboots;
    }
    FUZZ_CHECK(reboots >= 1);
  }
  return 0;
}
