#include "common/runner.h"

#include <unistd.h>

#include <cstring>

#include "common/host.h"
#include "common/output.h"
#include "common/profile.h"

namespace {

// Removes a final "\n" and, only then, a "\r" before it.
void strip_line_end(char* line) {
  size_t n = strlen(line);
  if (n > 0 && line[n - 1] == '\n') {
    line[--n] = '\0';
    if (n > 0 && line[n - 1] == '\r') line[n - 1] = '\0';
  }
}

void complain(const char* text) {
  if (profile().runner_notes_on_stderr) {
    err_printf("%s\n", text);
  } else {
    out_line(text);
  }
}

}  // namespace

int get_config(const char* command, char* out, size_t cap) {
  CommandStream cmd;
  if (host().open_command(command, cmd) != 0) {
    complain("Failed to open Process");
    return 1;
  }
  char line[256];
  memset(line, 0, sizeof(line));
  if (!cmd.gets(line, 255)) {
    complain("Failed to get the output");
    host().close_command(cmd);
    return 1;
  }
  strip_line_end(line);
  copy_text(out, cap, line);
  host().close_command(cmd);
  return 0;
}

int set_uci_config(const char* command) { return host().run(command); }

int commit_uci_config(const char* package) {
  FixedText<100> command;
  command.format("uci commit %s", package);
  return set_uci_config(command);
}

int read_file(const char* path, char* out, size_t cap) {
  FILE* f = host_fopen(path, "r");
  if (!f) return 1;
  char line[50];
  memset(line, 0, sizeof(line));
  if (!fgets(line, 49, f)) {
    if (!profile().read_file_quiet_on_empty) complain("Failed to get the output");
    fclose(f);
    return 1;
  }
  strip_line_end(line);
  copy_text(out, cap, line);
  fclose(f);
  return 0;
}

int make_directory(const char* path) { return host_mkdir(path, 0775); }

int path_exists(const char* path) { return host_access(path, F_OK) == 0 ? 0 : -1; }

int make_world_readable(const char* path) { return host_chmod(path, 0644); }
