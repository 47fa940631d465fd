// The vouchercheck binary as the portal runs it. The test gets a network
// namespace of its own in which the dashboard's built-in name does not
// resolve and the built-in fallback address sits on the loopback interface
// with the scripted dashboard on port 80, and a mount namespace whose
// resolver configuration points at nothing, so the name fails at once
// instead of waiting on a real name server. A stand-in `uci` on PATH answers
// node.status.network. Needs root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/program_paths.h"
#include "common/build_config.h"
#include "common/testing/http_server.h"
#include "common/testing/test_files.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string g_skip_reason;
std::string g_dir;  // stand-in uci, its answers and the resolver files

// Mounts `text` over an /etc file for this namespace only.
bool replace_etc_file(const std::string& etc, const std::string& text) {
  std::string own = g_dir + "/" + etc.substr(etc.rfind('/') + 1);
  write_file(own, text);
  return mount(own.c_str(), etc.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

class Node : public ::testing::Environment {
 public:
  void SetUp() override {
    char tmpl[] = "/tmp/vouchertest.XXXXXX";
    g_dir = mkdtemp(tmpl);
    if (geteuid() != 0) {
      g_skip_reason = "vouchercheck program tests need root (network and mount namespaces)";
      return;
    }
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      g_skip_reason = "cannot create network and mount namespaces here";
      return;
    }
    std::string up = std::string("ip link set lo up && ip addr add ") + DASHBOARD_FALLBACK_IP + "/32 dev lo";
    if (system(up.c_str()) != 0) {
      g_skip_reason = "the ip tool (iproute2) is missing";
      return;
    }
    if (!replace_etc_file("/etc/resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n") ||
        !replace_etc_file("/etc/nsswitch.conf", "hosts: files dns\n") ||
        !replace_etc_file("/etc/hosts", "127.0.0.1 localhost\n")) {
      g_skip_reason = "cannot replace the resolver configuration in the mount namespace";
      return;
    }
    auto t0 = Clock::now();
    if (gethostbyname(DASHBOARD_HOST) != nullptr) {
      g_skip_reason = "the dashboard's built-in name resolves even here";
    } else if (Clock::now() - t0 > std::chrono::seconds(2)) {
      g_skip_reason = "resolving the dashboard's name does not fail at once here";
    }
    mkdir((g_dir + "/bin").c_str(), 0755);
    mkdir((g_dir + "/uci").c_str(), 0755);
    write_file(g_dir + "/bin/uci",
               "#!/bin/sh\n"
               "# Stand-in for the node's uci: \"uci get <key>\" prints the file named after the key.\n"
               "[ \"$1\" = get ] || exit 1\n"
               "f=\"$(dirname \"$0\")/../uci/$2\"\n"
               "[ -f \"$f\" ] || { echo \"uci: Entry not found\" >&2; exit 1; }\n"
               "cat \"$f\"\n",
               0755);
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + g_dir + "'";
    if (system(cmd.c_str()) != 0) {
    }
  }
};

const auto* const kEnv [[maybe_unused]] = ::testing::AddGlobalTestEnvironment(new Node);

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  double seconds = 0;
};

// Runs the binary with the stand-in uci first on PATH; kills it after 20 s.
Outcome run_vouchercheck(const std::vector<std::string>& args) {
  Outcome r;
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return r;
  auto t0 = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    std::string path = g_dir + "/bin:/usr/sbin:/usr/bin:/sbin:/bin";
    setenv("PATH", path.c_str(), 1);
    std::vector<char*> argv = {const_cast<char*>("vouchercheck")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program_path(VOUCHERCHECK, "vouchercheck").c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open_fds = 2;
  while (open_fds > 0 && Clock::now() - t0 < std::chrono::seconds(20)) {
    if (poll(fds, 2, 100) <= 0) continue;
    for (pollfd& p : fds) {
      if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      ssize_t n = read(p.fd, buf, sizeof(buf));
      if (n <= 0) {
        close(p.fd);
        p.fd = -1;
        --open_fds;
      } else {
        (p.fd == out[0] ? r.out : r.err).append(buf, static_cast<size_t>(n));
      }
    }
  }
  if (open_fds > 0) kill(pid, SIGKILL);
  for (pollfd& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  return r;
}

void set_network(const char* name) {
  std::string f = g_dir + "/uci/node.status.network";
  if (name) {
    write_file(f, std::string(name) + "\n");
  } else {
    unlink(f.c_str());
  }
}

class VouchercheckProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_skip_reason.empty()) GTEST_SKIP() << g_skip_reason;
    set_network("office");
  }
};

const std::string kHostLine = std::string("Host: ") + DASHBOARD_HOST + "\r\n\r\n";

}  // namespace

TEST_F(VouchercheckProgram, AsksTheFallbackAddressAndPrintsTheAnswer) {
  ScriptedServer dashboard(DASHBOARD_FALLBACK_IP, 80);
  ASSERT_EQ("", dashboard.error());
  dashboard.script(
      ServerReply::segments({"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n", "#@#valid"}, Millis(100)));
  Outcome r = run_vouchercheck({"x", "00:11:22:33:44:55", "ABC123"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("valid", r.out);
  EXPECT_EQ("", r.err);
  EXPECT_EQ("POST /validate.php?voucher=ABC123&mac=00:11:22:33:44:55&network=office HTTP/1.0\r\n" + kHostLine,
            dashboard.request(0));
  EXPECT_LT(r.seconds, 5.0);
}

TEST_F(VouchercheckProgram, VoucherWithSpecialCharactersArrivesPercentEncoded) {
  ScriptedServer dashboard(DASHBOARD_FALLBACK_IP, 80);
  ASSERT_EQ("", dashboard.error());
  dashboard.script(ServerReply::text("HTTP/1.0 200 OK\r\n\r\n#@#invalid"));
  Outcome r = run_vouchercheck({"x", "00:11:22:33:44:55", "A B&x"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("invalid", r.out);
  EXPECT_EQ("POST /validate.php?voucher=A%20B%26x&mac=00:11:22:33:44:55&network=office HTTP/1.0\r\n" + kHostLine,
            dashboard.request(0));
}

TEST_F(VouchercheckProgram, TwoArgumentsAreRefused) {
  ScriptedServer dashboard(DASHBOARD_FALLBACK_IP, 80);
  ASSERT_EQ("", dashboard.error());
  Outcome r = run_vouchercheck({"x", "00:11:22:33:44:55"});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("Invalid Argumtnes\n", r.out);
  EXPECT_EQ("", r.err);
  EXPECT_EQ(0u, dashboard.connections());
}

TEST_F(VouchercheckProgram, UnreachableDashboardPrintsNothing) {
  Outcome r = run_vouchercheck({"x", "00:11:22:33:44:55", "ABC123"});
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("", r.out);
  EXPECT_EQ("", r.err);
  EXPECT_LT(r.seconds, 5.0);
}

TEST_F(VouchercheckProgram, OverlongArgumentsAreRefusedAndNothingIsSent) {
  ScriptedServer dashboard(DASHBOARD_FALLBACK_IP, 80);
  ASSERT_EQ("", dashboard.error());
  Outcome r = run_vouchercheck({"x", "00:11:22:33:44:55", std::string(100, '&')});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("", r.out);
  EXPECT_EQ(
      "vouchercheck: MAC address and voucher are too long for the request "
      "(the query holds 254 characters at most)\n",
      r.err);
  usleep(100000);
  EXPECT_EQ(0u, dashboard.connections());
}
