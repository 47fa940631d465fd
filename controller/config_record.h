// The controller's records: the dashboard connection settings and its copy
// of every node setting that the dashboard can change. The appliers compare
// each received value with this copy and act only where it differs. Both
// records are loaded from uci once at start-up and live until termination.
#pragma once

#include "common/text.h"
#include "controller/keywords.h"

struct DashboardConfig {
  FixedText<256> host;         // the dashboard's host name
  FixedText<256> path;         // path of its check-in script
  FixedText<256> fallback_ip;  // dotted quad used when host does not resolve
  FixedText<10> interval;      // check-in period in minutes, decimal text
  int first_checkin_done = 0;
};

struct WirelessSettings {
  int channel = 0;
  FixedText<5> country;
  FixedText<10> pub_disabled;
  FixedText<10> pub_hidden;
  FixedText<10> priv_disabled;
  FixedText<10> priv_hidden;
  FixedText<50> pub_ssid;
  FixedText<50> pub_key;
  FixedText<50> priv_ssid;
  FixedText<50> priv_key;
  int enterprise = 0;  // wireless.priv.encryption is "mixed-wpa"
  FixedText<17> radius_server;
  int auth_port = 0;
  // Set when this parse switched the private network to WPA Enterprise;
  // while set, the server and port lines are written to uci.
  int enterprise_reconfigured = 0;
};

struct FilterSettings {
  int lan_block = 0;
  int pub_isolate = 0;
  int priv_isolate = 0;
};

struct ManagementSettings {
  FixedText<50> network;
  FixedText<50> root_password;
  FixedText<100> timezone;
  int portal_enable = 0;
  FixedText<60> portal_name;
};

// 1 = the block rule of that service is in place (not kept in uci).
struct ServiceSettings {
  int ftp = 0;
  int ssh = 0;
  int smtp = 0;
  int pop = 0;
  int imap = 0;
  int irc = 0;
};

struct CustomScriptSettings {
  int enable = 0;
  FixedText<100> url;
  FixedText<50> md5;
  int run_pending = 0;
};

struct GeneralSettings {
  FixedText<100> hostname;
  int syslog_enable = 0;
  FixedText<100> syslog_server;
};

struct RebootSchedule {
  int enable = 0;
  FixedText<4> date;
  int time = 0;
};

struct CaptivePortalSettings {
  int enable = 0;  // new portal settings arrived: restart the portal
  FixedText<256> splash_url;
};

struct FirmwareSettings {
  int auto_upgrade = 0;
  int upgrade = 0;
  FixedText<20> version;
  FixedText<256> md5sum;
  FixedText<256> path;
};

// What one parse changed: a count per section row of the keyword table,
// zeroed by the parser before each reply. The after-apply step commits and
// restarts only what it shows.
struct ChangeCounts {
  int rows[kSectionRowCount] = {};
  int& operator[](int row) { return rows[row]; }
  int operator[](int row) const { return rows[row]; }
};

struct NodeConfig {
  WirelessSettings wireless;
  FilterSettings filter;
  ManagementSettings management;
  ServiceSettings services;
  int reboot_token = 0;  // 1: the node reboots after every parse
  CustomScriptSettings custom_script;
  GeneralSettings general;
  RebootSchedule reboot_schedule;
  FixedText<30> node_mode;  // "gateway" or "repeater": read at start-up and at each Wi-Fi restart
  CaptivePortalSettings captive_portal;
  FirmwareSettings firmware;
  ChangeCounts changes;  // of the last parse
};

// Creates and loads the records (a second call replaces the first).
void load_dashboard_config();
int load_node_config();

// The single instances; valid between their load and their clearing.
DashboardConfig& dashboard_config();
NodeConfig& node_config();
bool node_config_loaded();

// Removes the controller's firewall rules and releases NodeConfig.
void clear_controller_resources();
// Releases DashboardConfig.
void clear_dashboard_config();
