// vouchercheck <unused> <client MAC> <voucher>: prints the dashboard's answer.
#include "common/endpoints.h"
#include "common/profile.h"
#include "vouchercheck/voucher.h"

int main(int argc, char** argv) {
  set_profile(kVouchercheckProfile);
  return run_vouchercheck(argc, argv, kBuiltInDashboard);
}
