#include "common/atomic_file.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "common/host.h"

int replace_file_text(const char* path, const char* text) {
  if (strlen(path) + 4 >= PathText::capacity()) return -1;
  PathText temp;
  temp.format("%s.tmp", path);
  FILE* f = host_fopen(temp, "w");
  if (!f) return -1;
  size_t len = strlen(text);
  // A full file system shows only when the buffer goes out, so every step counts.
  bool ok = fwrite(text, 1, len, f) == len;
  ok = fflush(f) == 0 && ok;
  ok = fsync(fileno(f)) == 0 && ok;
  ok = fclose(f) == 0 && ok;
  if (ok) ok = host_rename(temp, path) == 0;
  if (!ok) {
    host_unlink(temp);
    return -1;
  }
  host().file_written(path, text);
  return 0;
}
