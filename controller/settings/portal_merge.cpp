#include <cstdio>
#include <cstring>

#include "common/atomic_file.h"
#include "common/host.h"
#include "common/output.h"
#include "common/runner.h"
#include "controller/settings/portal.h"
#include "controller/settings/portal_kinds.h"

namespace {

// Room for any line of a portal configuration; a longer line stops the
// merge rather than being split, because a split line could put a setting
// into the middle of a comment.
constexpr size_t kLineCap = 4096;

using Line = char[kLineCap];

enum class Read { kLine, kEnd, kFailed };

// One whole line with its line end (the last line of a file may lack one).
Read read_line(FILE* f, Line& line) {
  if (!fgets(line, kLineCap, f)) return ferror(f) ? Read::kFailed : Read::kEnd;
  size_t n = strlen(line);
  if (n > 0 && line[n - 1] == '\n') return Read::kLine;
  if (n < kLineCap - 1) return Read::kLine;
  int next = getc(f);
  if (next == EOF) return ferror(f) ? Read::kFailed : Read::kLine;
  ungetc(next, f);
  return Read::kFailed;
}

// The text before the first separator; a line without one is its own key,
// line end included.
void line_key(const Line& line, char separator, Line& key) {
  const char* end = strchr(line, separator);
  size_t n = end ? static_cast<size_t>(end - line) : strlen(line);
  memcpy(key, line, n);
  key[n] = '\0';
}

bool write_line(FILE* out, const char* line, bool end_line) {
  if (fputs(line, out) == EOF) return false;
  // The next configuration line must not be joined to a last new line that
  // lacks its line end.
  size_t n = strlen(line);
  if (end_line && (n == 0 || line[n - 1] != '\n') && fputc('\n', out) == EOF) return false;
  return true;
}

// The walk: both files forward once. Each new line takes the place of the
// first configuration line that contains its key; when the configuration
// file ends first, that new line and all later ones are dropped. False when
// a file could not be read or written.
bool walk(FILE* config, FILE* updates, char separator, FILE* out) {
  Line update;
  Line key;
  Line line;
  for (;;) {
    Read r = read_line(updates, update);
    if (r == Read::kFailed) return false;
    if (r == Read::kEnd) break;
    line_key(update, separator, key);
    bool placed = false;
    while ((r = read_line(config, line)) == Read::kLine) {
      if (strstr(line, key)) {
        if (!write_line(out, update, true)) return false;
        placed = true;
        break;
      }
      if (!write_line(out, line, false)) return false;
    }
    if (r == Read::kFailed) return false;
    if (!placed) return true;
  }
  Read r;
  while ((r = read_line(config, line)) == Read::kLine) {
    if (!write_line(out, line, false)) return false;
  }
  return r == Read::kEnd;
}

}  // namespace

int merge_portal_config(const char* config_file, const char* new_settings, int kind) {
  const PortalKind* portal = portal_kind_info(kind);
  if (!portal) {
    out_line("Bad captive portal type");
    return 1;
  }
  if (path_exists(config_file) != 0) return 1;
  out_printf("File: %s exist\n", config_file);
  FILE* config = host_fopen(config_file, "r");
  if (!config) {
    out_line("Unable to open the input file!!");
    return 1;
  }
  if (path_exists(new_settings) != 0) {
    fclose(config);
    return 1;
  }
  out_printf("File:%s exist\n", new_settings);
  FILE* updates = host_fopen(new_settings, "r");
  if (!updates) {
    out_line("Unable to open the config.tmp");
    fclose(config);
    return 1;
  }

  // Beside the configuration file, so that the rename replaces it in one
  // step and a power cut leaves one whole file or the other.
  AtomicFile out;
  if (!out.open(config_file, 0644)) {
    out_line("Unable to open temporary file!!");
    fclose(config);
    fclose(updates);
    return 0;
  }
  bool ok = walk(config, updates, portal->separator, out.file());
  fclose(config);
  fclose(updates);
  if (ok) {
    host().sleep(1);
    ok = out.commit() == 0;
  }
  if (!ok) {
    out_printf("Unable to merge %s: left as it was\n", config_file);
    return 1;
  }
  if (host_unlink(new_settings) != 0) err_perror("New:");
  return 0;
}
