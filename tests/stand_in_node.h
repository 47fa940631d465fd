// A node for whole-program tests of lonely and portsense: the real binary
// runs as root in a file system of its own (a chroot under /tmp in a mount
// namespace) in which the platform's commands are stand-in scripts, and in a
// network namespace of its own with the interfaces the test asks for.
//
// - /bin/sh is a stand-in that notes every command line a program hands to
//   the shell ("issued"), then runs it with the real dash;
// - uci, batctl, ifconfig, udhcpc, iptables, /etc/init.d/{vlan,dnsmasq,
//   network}, /sbin/do_reboot, /sbin/reboot and (for portsense) /usr/bin/lonely
//   are stand-ins that note their call ("calls"); uci keeps its settings in
//   files, batctl answers "gw" from the batman mode the test sets and "ping"
//   for the gateways the test lets answer, and the vlan script may create the
//   VLANs on "start";
// - /proc is a folder: uptime, net/vlan/bat0.N and the gateway table of
//   /sys/kernel/debug are files the test writes (this kernel has neither
//   8021q nor batman-adv); /proc/self and the pids the test names lead to the
//   kernel's /proc; /sys/class/leds holds the four LEDs as plain files;
// - the dashboard's name does not resolve, and its fallback address answers
//   on loopback from a scripted server when the test gives replies.
//
// Several nodes run side by side: start() returns at once.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/testing/http_server.h"

struct NodeSetup {
  std::string program;           // the binary under test
  std::string install_as;        // where it lies on the node, e.g. "/usr/bin/portsense"
  bool lonely_stand_in = false;  // /usr/bin/lonely is a stand-in (portsense's runs)
  std::vector<std::string> net;  // ip commands that build the node's interfaces
  std::string uptime = "4000.00 3000.00\n";
  int vlans = 4;  // bat0.0 ... present at the start
  bool vlan_start_creates_vlans = false;
  std::string batman_mode = "off";     // "off", "client" or "server"
  std::string gateway_table;           // empty: no table (batman-adv not loaded)
  std::vector<std::string> answering;  // gateways whose batman ping answers
  std::map<std::string, std::string> uci;
  std::string mesh_pid_file;           // content of the mesh DHCP client's pid file; empty: none
  std::vector<pid_t> processes;        // other processes the node's /proc shows
  std::vector<ServerReply> dashboard;  // scripted dashboard replies; none: no dashboard
};

class StandInNode {
 public:
  explicit StandInNode(NodeSetup setup);
  ~StandInNode();
  StandInNode(const StandInNode&) = delete;
  StandInNode& operator=(const StandInNode&) = delete;

  // Builds the node and starts the program, which gets `limit_seconds` to
  // end (then the node's processes are killed); "" or why it could not.
  std::string start(int limit_seconds);
  // Waits until the program has exited and nothing of it writes to its
  // output any more.
  void wait();

  // After wait():
  int status = -1;  // exit status (128 + signal when killed)
  std::string out;
  std::string err;
  double seconds = 0;                       // from the start to the program's exit
  std::vector<std::string> issued() const;  // command lines handed to the shell
  std::vector<std::string> calls() const;   // stand-ins as they were called
  // Both in order, and what the program printed.
  std::string transcript() const;
  std::string file(const std::string& path) const;  // a file of the node
  std::string uci(const std::string& key) const;
  ScriptedServer* dashboard() { return server_.get(); }

 private:
  void build();
  void watch(int out_fd, int err_fd);

  NodeSetup setup_;
  std::string dir_;   // everything of this node
  std::string root_;  // its file system
  std::unique_ptr<ScriptedServer> server_;
  pid_t pid_ = -1;
  std::thread watcher_;
  int limit_seconds_ = 600;
};

// Empty when this machine can run stand-in nodes, else why not.
std::string stand_in_nodes_unavailable();
