// The dashboard's exchanges: the paths and the query and body forms that the
// programs send. The check-in and statistics paths come from uci
// (dashboard.remote.path and dashboard.remote.cupath) and their
// "?mac=%s&data=%s" query is part of their framing (common/framing.h).
#pragma once

#include <cstddef>

#include "common/build_config.h"
#include "common/text.h"

// Where a program finds the dashboard: a host name and the dotted-quad
// address to use when the name does not resolve (nullptr: no fallback).
struct DashboardEndpoint {
  const char* host;
  const char* fallback_ip;
};

// The dashboard of the programs that carry no setting of their own.
inline constexpr DashboardEndpoint kBuiltInDashboard = {DASHBOARD_HOST, DASHBOARD_FALLBACK_IP};

// Internet check: the payload is exactly "Succeed" when the dashboard is reached.
inline constexpr const char kServerPingPath[] = "/serverping.php?fw=QX";
// Client list report (form body).
inline constexpr const char kClientListPath[] = "/client.php";
// Voucher check (query, answer printed).
inline constexpr const char kValidatePath[] = "/validate.php";

// Node id request: "/nodeid.php?hw=QX&mac=%s" with the base64 eth0 MAC, which
// goes in as it is, "=" included. False when cut.
bool nodeid_path(const char* encoded_mac, char* out, size_t cap);
// Statistics report text: "rxb=%d&txb=%d&rxp=%d&txp=%d". The values are
// 64-bit so that a minute of gigabit traffic (more than 2^31 bytes) is
// reported as it is; a value that fits 32 bits reads exactly as "%d" gives it.
bool statistics_data(long long rxb, long long txb, long long rxp, long long txp, char* out, size_t cap);
// Client list body: "id=%s&data=%s" with the base64 MAC and list.
bool client_list_body(const char* encoded_mac, const char* encoded_list, char* out, size_t cap);
// Custom script request body: "data1=%s".
bool script_body(const char* value, char* out, size_t cap);
// Voucher query: "voucher=%s&mac=%s&network=%s", the values as given.
bool voucher_query(const char* voucher, const char* mac, const char* network, char* out, size_t cap);

template <size_t N>
bool nodeid_path(const char* encoded_mac, FixedText<N>& out) {
  return nodeid_path(encoded_mac, out.data(), N);
}
template <size_t N>
bool statistics_data(long long rxb, long long txb, long long rxp, long long txp, FixedText<N>& out) {
  return statistics_data(rxb, txb, rxp, txp, out.data(), N);
}
template <size_t N>
bool client_list_body(const char* encoded_mac, const char* encoded_list, FixedText<N>& out) {
  return client_list_body(encoded_mac, encoded_list, out.data(), N);
}
template <size_t N>
bool script_body(const char* value, FixedText<N>& out) {
  return script_body(value, out.data(), N);
}
template <size_t N>
bool voucher_query(const char* voucher, const char* mac, const char* network, FixedText<N>& out) {
  return voucher_query(voucher, mac, network, out.data(), N);
}
