// The /proc/<pid>/stat reader: any stat text parses or is refused; a
// process whose name is made to look like another's (the kernel keeps 15
// characters of any bytes but "\0" and "\n") is found by its own name
// only.
#include <string>

#include "common/process.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FakeHost& h = fuzz_host();
  FuzzInput in(data, size);
  std::string name = in.field().substr(0, 15);
  std::string raw = in.rest();

  // The raw text as the stat of pid 700, beside a real-looking process.
  h.write("/proc/700/stat", raw);
  h.add_process(800, "watchdog", 'S');
  process_has_name(700, "watchdog");
  long found = find_pid_by_name("watchdog");
  // The pid comes from the stat text, which the kernel starts with the
  // folder's own number.
  bool raw_names_watchdog = raw.find("(watchdog)") != std::string::npos;
  FUZZ_CHECK(found == -2 || found == 800 || raw_names_watchdog);

  // A name as the kernel writes it.
  bool kernel_name = name.find_first_of(std::string("\n\0", 2)) == std::string::npos && !name.empty();
  if (!kernel_name) return 0;
  h.write("/proc/700/stat", "700 (" + name + ") S 1 700 700 0 -1 4194560\n");
  FUZZ_CHECK(process_has_name(700, name.c_str()));
  if (name != "watchdog") FUZZ_CHECK(!process_has_name(700, "watchdog"));
  long pid = find_pid_by_name(name.c_str());
  FUZZ_CHECK(pid > 0 && process_has_name(pid, name.c_str()));
  return 0;
}
