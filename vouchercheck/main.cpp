// vouchercheck: asks the dashboard whether a captive-portal voucher is valid.
#include "vouchercheck/program.h"

int main(int argc, char** argv) { return vouchercheck_main(argc, argv); }
