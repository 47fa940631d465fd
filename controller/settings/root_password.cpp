#include "controller/settings/root_password.h"

#include <cstdio>

#include "common/host.h"
#include "common/shell_quote.h"
#include "common/text.h"

namespace {

const char kScriptPath[] = "/tmp/chgpasswd";

// passwd reads the new password twice from its input. "$1" is quoted in the
// test so that a password with * or ? never turns into file names, which
// would make the test fail and the script end with 0 without passwd.
const char kScript[] =
    "#!/bin/sh\n"
    "if [ \"$1\" ]; then\n"
    "passwd root << EOF\n"
    "$1\n"
    "$1\n"
    "EOF\n"
    "fi\n";

}  // namespace

int change_root_password(const char* password) {
  FILE* f = host_fopen(kScriptPath, "w");
  if (!f) return 1;
  // On a full /tmp the script comes out empty or cut, and sh runs it with
  // success without ever calling passwd.
  bool written = fputs(kScript, f) >= 0;
  if (fclose(f) != 0 || !written) {
    host_unlink(kScriptPath);
    return 1;
  }
  // The password reaches the script as one word whatever it holds.
  FixedText<1200> command;
  command.format("sh %s %s", kScriptPath, ShellValue(password ? password : "").c_str());
  int status = host().run(command);
  host_unlink(kScriptPath);
  return status == 0 ? 0 : 1;
}
