#include "controller/setting_file.h"

#include <cstdio>

#include "common/host.h"
#include "common/output.h"

int write_setting_file(const char* path, const char* message, const char* text) {
  if (host_write_file(path, text) != 0) return -1;
  out_line(message);
  return 0;
}
