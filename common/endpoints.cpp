#include "common/endpoints.h"

#include <cstdio>

namespace {

// snprintf into a zeroed area; false when the text was cut.
bool fill(char* out, size_t cap, int needed) {
  if (needed < 0) {
    out[0] = '\0';
    return false;
  }
  return static_cast<size_t>(needed) < cap;
}

}  // namespace

bool nodeid_path(const char* encoded_mac, char* out, size_t cap) {
  if (cap == 0) return false;
  return fill(out, cap, snprintf(out, cap, "/nodeid.php?hw=QX&mac=%s", encoded_mac));
}

bool statistics_data(long long rxb, long long txb, long long rxp, long long txp, char* out, size_t cap) {
  if (cap == 0) return false;
  return fill(out, cap, snprintf(out, cap, "rxb=%lld&txb=%lld&rxp=%lld&txp=%lld", rxb, txb, rxp, txp));
}

bool client_list_body(const char* encoded_mac, const char* encoded_list, char* out, size_t cap) {
  if (cap == 0) return false;
  return fill(out, cap, snprintf(out, cap, "id=%s&data=%s", encoded_mac, encoded_list));
}

bool script_body(const char* value, char* out, size_t cap) {
  if (cap == 0) return false;
  return fill(out, cap, snprintf(out, cap, "data1=%s", value));
}

bool voucher_query(const char* voucher, const char* mac, const char* network, char* out, size_t cap) {
  if (cap == 0) return false;
  return fill(out, cap, snprintf(out, cap, "voucher=%s&mac=%s&network=%s", voucher, mac, network));
}
