#include "controller/setting_file.h"

#include <cstdio>

#include "common/host.h"
#include "common/output.h"

int write_setting_file(const char* path, const char* message, const char* text) {
  FILE* f = host_fopen(path, "w");
  if (!f) return -1;
  out_line(message);
  fputs(text, f);
  fclose(f);
  host().file_written(path, text);
  return 0;
}
