// vouchercheck's row of variants and its entry.
#pragma once

#include "common/profile.h"
#include "common/transport.h"

extern const ProgramProfile kVouchercheckProfile;
extern const ConnectVariant kVouchercheckConnect;

// vouchercheck <unused> <client MAC> <voucher>: prints the dashboard's answer.
int vouchercheck_main(int argc, char** argv);
