#include "vouchercheck/program.h"

#include "common/endpoints.h"
#include "vouchercheck/voucher.h"

// Its standard output is the answer its caller reads, so the command
// runner's complaints must not land there.
const ProgramProfile kVouchercheckProfile = {.name = "vouchercheck", .runner_notes_on_stderr = true};

const ConnectVariant kVouchercheckConnect = {.talk = ConnectTalk::kSilent, .fallback = true, .check_connect = true};

int vouchercheck_main(int argc, char** argv) {
  set_profile(kVouchercheckProfile);
  return run_vouchercheck(argc, argv, kBuiltInDashboard);
}
