// vouchercheck: asks the dashboard whether a client's voucher is valid and
// prints its answer for the portal that called us.
#pragma once

#include <cstddef>

#include "common/endpoints.h"
#include "common/text.h"

// The query of the voucher request holds at most 254 characters.
using VoucherQuery = FixedText<255>;

// Copies value into out, percent-encoding ("%2F") every byte other than a
// letter, a digit, "-", ".", "_", "~" and the characters of `keep`, so a
// blank, "&", "#", "%" or a line end can neither break the request line nor
// add a field to it. False when the result does not fit cap.
bool percent_encode(const char* value, const char* keep, char* out, size_t cap);

// "voucher=%s&mac=%s&network=%s" with all three percent-encoded (the MAC
// keeps its ":"). False when it does not fit.
bool build_voucher_query(const char* voucher, const char* mac, const char* network, VoucherQuery& out);

// Sends the voucher request on the connected socket and prints the answer:
// the reply after its first "#" and the two characters behind it. A reply
// without "#" prints nothing; one that goes on beyond 64 KiB is not read
// further.
void validate_voucher(int sock, const char* query, const char* host);

// The program: argv[1] is not used, argv[2] is the client's MAC address and
// argv[3] the voucher. Returns the exit status.
int run_vouchercheck(int argc, char** argv, const DashboardEndpoint& dashboard);
