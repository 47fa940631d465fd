// The fleetlink_supervisor binary stopped in the middle of applying a
// reply, while it waits for a command that does not end. The controller
// waits for every command it starts, without a time limit of its own (each
// command of a reply completes before the next line is read); SIGTERM ends
// the daemon at once all the same, with its clean-up, and the command is
// left to finish on its own rather than be killed half-way.
//
// Network and mount namespaces of the test's own: a private /tmp, an
// /etc/hosts that names the dashboard (the scripted server on port 80), and
// stand-in tools first on PATH, recording their calls; the stand-in uci
// holds on to one setting until the test lets it go. Needs root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "tests/program_paths.h"
#include "common/testing/http_server.h"
#include "common/testing/private_tmp.h"
#include "common/testing/test_files.h"
#include "controller/testing/checkin_request.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string g_skip_reason;
std::string g_dir;

class Node : public ::testing::Environment {
 public:
  void SetUp() override {
    if (geteuid() != 0) {
      g_skip_reason = "controller fault program tests need root (network and mount namespaces)";
      return;
    }
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        !mount_private_tmp() || system("ip link set lo up") != 0) {
      g_skip_reason = "cannot create network and mount namespaces with a private /tmp here";
      return;
    }
    char tmpl[] = "/tmp/controllerfault.XXXXXX";
    g_dir = mkdtemp(tmpl);
    write_file(g_dir + "/hosts", "127.0.0.1 localhost\n127.0.0.1 dash.test\n");
    if (mount((g_dir + "/hosts").c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
      g_skip_reason = "cannot put a hosts file of the test's own over /etc/hosts";
      return;
    }
    std::string bin = g_dir + "/bin";
    mkdir(bin.c_str(), 0755);
    mkdir((g_dir + "/uci").c_str(), 0755);
    const std::string record = "echo \"$(basename \"$0\") $*\" >> " + g_dir + "/calls\n";
    // Holds on to wireless.pub.ssid: says so in "held" (with its pid) and
    // waits for "release".
    write_file(bin + "/uci",
               "#!/bin/sh\n" + record + "store=" + g_dir + "/uci\n" +
                   "case \"$1\" in\n"
                   "  get) [ -f \"$store/$2\" ] || exit 1; cat \"$store/$2\" ;;\n"
                   "  set) key=\"${2%%=*}\"\n"
                   "       if [ \"$key\" = wireless.pub.ssid ]; then\n"
                   "         echo $$ > " +
                   g_dir +
                   "/held\n"
                   "         while [ ! -f " +
                   g_dir +
                   "/release ]; do sleep 0.05; done\n"
                   "         echo \"finished $2\" >> " +
                   g_dir +
                   "/calls\n"
                   "       fi\n"
                   "       printf '%s\\n' \"${2#*=}\" > \"$store/$key\" ;;\n"
                   "esac\n",
               0755);
    for (const char* tool : {"batctl", "udhcpc", "ifconfig", "iptables"}) {
      write_file(bin + "/" + tool, "#!/bin/sh\n" + record, 0755);
    }
    prctl(PR_SET_CHILD_SUBREAPER, 1);
  }
};

const auto* const kEnv [[maybe_unused]] = ::testing::AddGlobalTestEnvironment(new Node);

class ControllerFault : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_skip_reason.empty()) GTEST_SKIP() << g_skip_reason;
    ASSERT_EQ("", dashboard.error());
    const std::pair<const char*, const char*> settings[] = {
        {"dashboard.remote.host", "dash.test"},
        {"dashboard.remote.path", "/checkin.php"},
        {"dashboard.remote.fallback_ip", "192.0.2.10"},
        {"dashboard.remote.interval", "5"},
        {"node.status.mode", "gateway"},
        {"wireless.radio0.channel", "6"},
        {"wireless.pub.ssid", "Guest"},
        {"wireless.priv.ssid", "Office"},
    };
    for (const auto& [key, value] : settings) write_file(g_dir + "/uci/" + key, std::string(value) + "\n");
  }
  void TearDown() override {
    write_file(g_dir + "/release", "");
    if (daemon_pid > 0) {
      kill(daemon_pid, SIGKILL);
      waitpid(daemon_pid, nullptr, 0);
    }
  }

  void start() {
    pid_t pid = fork();
    if (pid == 0) {
      int null_fd = open("/dev/null", O_WRONLY);
      dup2(null_fd, 1);
      std::string path = g_dir + "/bin:/usr/sbin:/usr/bin:/sbin:/bin";
      setenv("PATH", path.c_str(), 1);
      execl(program_path(FLEETLINK_SUPERVISOR, "fleetlink_supervisor").c_str(), "fleetlink_supervisor", nullptr);
      _exit(127);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    daemon_pid = atoi(slurp("/tmp/kestrel.pid").c_str());
    ASSERT_GT(daemon_pid, 0);
  }
  bool called(const std::string& call) const { return slurp(g_dir + "/calls").find(call + "\n") != std::string::npos; }

  ScriptedServer dashboard{"127.0.0.1", 80};
  pid_t daemon_pid = -1;
};

}  // namespace

TEST_F(ControllerFault, SigtermWhileACommandOfTheReplyNeverEndsStopsTheDaemonAtOnce) {
  dashboard.script(ServerReply::text(checkin_test::config_reply(
      "#@#config wireless\nradio0.channel 11\npublic.ssid Lobby\nprivate.ssid Back-Office\n")));
  start();
  // The reply is being applied: the SSID's command holds.
  ASSERT_TRUE(await([] { return exists(g_dir + "/held"); })) << slurp(g_dir + "/calls");
  pid_t held = atoi(slurp(g_dir + "/held").c_str());
  ASSERT_GT(held, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the controller waits on

  ASSERT_EQ(0, kill(daemon_pid, SIGTERM));
  auto t0 = Clock::now();
  int status = 0;
  ASSERT_EQ(daemon_pid, waitpid(daemon_pid, &status, 0));
  daemon_pid = -1;
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2));
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_FALSE(exists("/tmp/kestrel.pid"));

  // What came before the held command was applied; nothing after it ran.
  EXPECT_TRUE(called("uci set wireless.radio0.channel=11"));
  EXPECT_TRUE(called("uci set wireless.pub.ssid=Lobby"));
  EXPECT_FALSE(called("uci set wireless.priv.ssid=Back-Office"));
  EXPECT_FALSE(called("uci commit wireless"));

  // The held command was not killed: it finishes once let go.
  EXPECT_EQ(0, kill(held, 0));
  write_file(g_dir + "/release", "");
  ASSERT_TRUE(
      await([] { return slurp(g_dir + "/calls").find("finished wireless.pub.ssid=Lobby\n") != std::string::npos; }));
  EXPECT_EQ("Lobby\n", slurp(g_dir + "/uci/wireless.pub.ssid"));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(called("uci set wireless.priv.ssid=Back-Office"));
}
