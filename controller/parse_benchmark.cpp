// Parses and applies a full configuration reply (every section, every key,
// about 4 KiB) against the fake host, whose commands cost nothing, and prints
// the controller's own time per reply and the commands the reply runs.
//   controller_parse_benchmark [replies] [--commands]
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/testing/fake_host.h"
#include "controller/config_parser.h"
#include "controller/config_record.h"
#include "controller/keywords.h"
#include "controller/settings/firmware_upgrade.h"

namespace {

double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string full_reply() {
  std::string r;
  auto section = [&](const char* name, std::initializer_list<const char*> lines) {
    r += std::string("#@#config ") + name + "\n";
    for (const char* line : lines) r += std::string(line) + "\n";
  };
  section("dashboard", {"host dash.example", "path /checkin.php", "interval 5"});
  section("debug", {"level 3"});
  section("madwifi", {"mode ap"});
  section("anyip", {"enable 0"});
  section("radio", {"channel 11", "txpower 17"});
  section("wireless", {"usenodename 0",
                       "radio0.channel 11",
                       "radio0.country US",
                       "public.enabled 0",
                       "public.hidden 1",
                       "public.ssid Lobby-Guest",
                       "public.key guestkey-2024",
                       "private.enabled 0",
                       "private.hidden 1",
                       "private.ssid Back-Office",
                       "private.key pa$$word;office",
                       "enterprise 1",
                       "server 10.9.9.9",
                       "port 1812",
                       "wifi0.channel 6",
                       "wifi0.country DE",
                       "wifi0.txpower 17",
                       "ap.wide_channel 0",
                       "wifi0.auto_channel 0",
                       "wifi0.rts 2347",
                       "wifi0.58_channel 36"});
  section("filter", {"lan_block 1", "public.AP_isolate 1", "private.AP_isolate 1"});
  section("nodes", {"count 4"});
  section("chilli", {"enable 1", "HS_DNS1 10.3.48.1", "HS_DNS2 8.8.8.8", "HS_UAMPORT 3990", "HS_UAMUIPORT 4990",
                     "HS_UAMSERVER portal.example", "HS_UAMHOMEPAGE http://portal.example/welcome",
                     "HS_UAMSECRET s3cr3t", "HS_RADIUS radius.example", "HS_RADIUS2 radius2.example",
                     "HS_RADSECRET radsecret", "HS_UAMALLOW portal.example,cdn.example", "HS_LOC_NAME Cafe"});
  section("management",
          {"reboot_enable 0", "reboot_date 0", "reboot_time 0", "network cafe-mesh", "dns_alt_srv 8.8.4.4",
           "rootpwd n3w-r00t", "sm 1", "gmt_offset 1", "tz_offset CET-1CEST,M3.5.0,M10.5.0/3", "cp_enable 1",
           "cp_name chilli", "node_id 7", "no_inet_check 0"});
  section("general", {"hostname cafe-node-7", "syslog 1", "syslog_server 10.9.9.10"});
  section("services", {"ftp 1", "ssh 1", "smtp 1", "pop 1", "imap 1", "irc 1"});
  section("reboot", {"reboot 0"});
  section("customscript",
          {"cs_enable 1", "cs_url http://scripts.example/dir", "cs_md5 0123456789abcdef0123456789abcdef"});
  section("s_reboot", {"enable 1", "date w", "time 3"});
  section("fwupgrade", {"auto 0", "upgrade 1", "version 2.5.0", "sum 0123456789abcdef0123456789abcdef",
                        "path http://firmware.example/2.5.0"});
  section("ledsign", {"mode blink"});
  section("nodog", {"enable 1", "SplashURl http://splash.example/pages.tgz", "GatewayName Cafe", "MaxClients 40",
                    "ClientIdleTimeout 10", "ClientForceTimeout 120"});
  // Pad the nodog section to 4 KiB with further settings.
  for (int i = 0; r.size() < 4096 - 40; ++i) r += "FirewallRule" + std::to_string(i) + " allow tcp port 443\n";
  return r;
}

void fresh_config(NodeConfig& c) {
  c = NodeConfig();
  c.wireless.channel = 6;
  c.wireless.country.set("DE");
  c.node_mode.set("gateway");
  c.captive_portal.splash_url.set("none");
  c.firmware.version.set("none");
}

}  // namespace

int main(int argc, char** argv) {
  int replies = argc > 1 ? atoi(argv[1]) : 2000;
  bool list = argc > 2 && std::string(argv[2]) == "--commands";
  if (replies <= 0) replies = 1;
  FakeHost fake;
  ScopedHost scope(fake);
  fake.uci = {{"wireless.pub.encryption", "none"},   {"wireless.priv.encryption", "psk-mixed"},
              {"dhcp.mesh.ipaddr", "10.3.56.1"},     {"dhcp.pub.ipaddr", "10.3.48.1"},
              {"dhcp.pub.netmask", "255.255.252.0"}, {"dhcp.priv.ipaddr", "10.3.52.1"},
              {"dhcp.priv.netmask", "255.255.252.0"}};
  const std::string reply = full_reply();
  fake.write("/tmp/.received", reply);

  NodeConfig config;
  size_t runs = 0;
  size_t reads = 0;
  std::chrono::nanoseconds total{0};
  double cpu = 0;
  for (int i = 0; i < replies; ++i) {
    fresh_config(config);
    fake.uci["wireless.priv.encryption"] = "psk-mixed";
    fake.uci["wireless.pub.encryption"] = "none";
    fake.commands.clear();
    fake.events.clear();
    fake.stdout_text.clear();
    fake.logs.clear();
    upgrade_pending = 0;
    double c0 = cpu_seconds();
    auto t0 = std::chrono::steady_clock::now();
    parse_config_reply("/tmp/.received", config);
    total += std::chrono::steady_clock::now() - t0;
    cpu += cpu_seconds() - c0;
    if (i == 0) {
      for (const std::string& e : fake.events) {
        bool run = e.rfind("run ", 0) == 0;
        bool read = e.rfind("read ", 0) == 0;
        runs += run;
        reads += read;
        if (list && (run || read)) printf("  %s\n", e.c_str());
      }
    }
  }
  double us = std::chrono::duration<double, std::micro>(total).count() / replies;
  printf("reply: %zu bytes, %d replies\n", reply.size(), replies);
  // The wall time includes the file system's work on the reply and the two
  // portal settings files; the processor time is the controller's own.
  printf("time per reply (fake host, commands cost nothing): %.1f us wall, %.1f us processor\n", us,
         cpu * 1e6 / replies);
  printf("shell commands per reply: %zu run + %zu read = %zu\n", runs, reads, runs + reads);
  return 0;
}
