// Texts of one associated station: its MAC, its transmit rate, its per-chain
// signals, the client record line and the file that collects those lines.
#pragma once

#include <cstddef>

#include "common/text.h"

struct nlattr;

using StationMacText = FixedText<18>;
using BitrateText = FixedText<100>;
using ChainSignalText = FixedText<64>;
using ClientRecordText = FixedText<256>;

constexpr int kStationInfoMaxType = 27;
constexpr int kRateInfoMaxType = 10;

// Parses the nested station information (NL80211_ATTR_STA_INFO) into sta,
// indexed by NL80211_STA_INFO_*: every value read below is checked against
// the length of its type. 0 or a negative library error.
int parse_station_info(nlattr* sta[kStationInfoMaxType + 1], const nlattr* info);

// "%02x" for the first byte and ":%02x" for each further one.
void format_station_mac(StationMacText& out, const unsigned char mac[6]);

// The text of a nested rate attribute, e.g. "65.0 MBit/s MCS 7 short GI",
// cut to the buffer. A rate whose attributes do not parse, or are shorter
// than their types, gives "failed to parse nested rate attributes!".
void format_bitrate(const nlattr* rate, char* out, size_t size);

// "[-54, -57] " from the nested per-chain signal averages (each a signed
// byte); empty without an entry. False when an entry is malformed.
bool format_chain_signal(const nlattr* chains, ChainSignalText& out);

// The client record of one station from the station information that
// parse_station_info accepted, e.g.
// "mac=00:11:22:33:44:55;rx=512;tx=300;ctime=5;rssi=-52[-54, -57] ;txbitrate=65.0 MBit/s|".
void format_client_record(const char* mac, nlattr* const sta[], const char* chain, ClientRecordText& out);

// Appends text and "\n" to /tmp/.clients under an exclusive flock, so a
// concurrent writer's line is never interleaved. 0, or 1 when the file
// cannot be opened or the record not written whole (the file then keeps
// what it held before).
int append_client_record(const char* text);
