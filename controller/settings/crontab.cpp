#include <errno.h>

#include <cstdio>
#include <cstring>

#include "common/atomic_file.h"
#include "common/host.h"
#include "common/text.h"
#include "controller/settings/reboot_settings.h"

namespace {

const char kCrontabDir[] = "/etc/crontabs";
// Rewritten beside itself ("root.tmp") and renamed into place; cron skips
// file names with a dot, so it never reads the half-written file as a table.
const char kCrontab[] = "/etc/crontabs/root";

using ScheduleLine = FixedText<64>;

// The reboot lines of a schedule. Replacing puts three blanks before the
// command and adding two, as the dashboard's nodes have always had them;
// every form reboots at minute 0, so the node reboots once, not for a
// whole hour.
struct Schedule {
  int enable = 0;
  bool has_line = false;
  ScheduleLine replacing;
  ScheduleLine added;
};

Schedule make_schedule(int enable, const char* date, int hour) {
  Schedule s;
  s.enable = enable;
  if (enable == 0) return s;
  int kind = cron_code(date);
  switch (kind) {
    case kCronDaily:
      s.replacing.format("0 %d * * *  /sbin/do_reboot 93\n", hour);
      s.added = s.replacing;
      break;
    case kCronWeekly: {
      int day = cron_day(kind);
      s.replacing.format("0 %d * * %d   /sbin/do_reboot 93\n", hour, day);
      s.added.format("0 %d * * %d  /sbin/do_reboot 93\n", hour, day);
      break;
    }
    case kCronMonthly: {
      int day = cron_day(kind);
      s.replacing.format("0 %d %d * *   /sbin/do_reboot 93\n", hour, day);
      s.added.format("0 %d %d * *  /sbin/do_reboot 93\n", hour, day);
      break;
    }
    default:
      return s;  // no schedule, or a bad code: the reboot line just goes
  }
  s.has_line = true;
  return s;
}

// Copies root's crontab into out with its reboot line replaced or left out.
// A line longer than the buffer is taken whole: its first piece decides,
// so that no job is ever cut in two. False on a read error.
bool copy_without_reboot_line(FILE* in, FILE* out, const Schedule& s, bool& had_reboot_line) {
  char piece[1024];
  bool line_start = true;
  bool reboot_line = false;
  while (fgets(piece, sizeof(piece), in)) {
    size_t n = strlen(piece);
    if (line_start) {
      reboot_line = strstr(piece, "reboot") != nullptr;
      if (reboot_line) {
        had_reboot_line = true;
        if (s.enable != 0 && s.has_line) fputs(s.replacing, out);
      }
    }
    if (!reboot_line) fputs(piece, out);
    line_start = n > 0 && piece[n - 1] == '\n';
  }
  // A last job without a line end must not run into an added line.
  if (!line_start && !reboot_line) fputc('\n', out);
  return !ferror(in);
}

}  // namespace

void write_reboot_schedule(int enable, const char* date, int hour) {
  Schedule s = make_schedule(enable, date, hour);
  FILE* in = host_fopen(kCrontab, "r");
  // A node without a crontab has no other jobs to keep; one that cannot be
  // read keeps its crontab as it is.
  if (!in && errno != ENOENT) return;
  if (!in && !(s.enable == 1 && s.has_line)) return;
  if (!in) host_mkdir(kCrontabDir, 0755);

  AtomicFile out;
  if (!out.open(kCrontab, 0600)) {
    if (in) fclose(in);
    return;
  }
  bool had_reboot_line = false;
  bool read_ok = true;
  if (in) {
    read_ok = copy_without_reboot_line(in, out.file(), s, had_reboot_line);
    fclose(in);
  }
  if (!had_reboot_line && s.enable == 1 && s.has_line) fputs(s.added, out.file());
  // A crontab that could not be read whole is kept as it is.
  if (read_ok) out.commit();
}
