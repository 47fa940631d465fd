#include "controller/settings/custom_script.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "common/testing/http_server.h"
#include "common/transport.h"
#include "controller/config_parser.h"
#include "controller/program.h"
#include "controller/testing/controller_test.h"

namespace {

using Strings = std::vector<std::string>;

const char kRequest[] =
    "POST /dir/custom.sh HTTP/1.0\r\nHost: scripts.example\r\n"
    "Content-type: application/x-www-form-urlencoded\r\nContent-length: 6\r\n\r\ndata1=";
const char kScript[] = "#!/bin/sh\nuci set system.@system[0].hostname=cafe\n# done\necho ok\n";
const char kScriptMd5[] = "0b2a661b2af75bfc875ffa41a10a9694";  // md5sum of kScript
const char kMd5Command[] = "md5sum /tmp/custom.sh | awk '{print $1}'";

class CustomScript : public ControllerTest {
 protected:
  CustomScript() {
    fake.hosts["scripts.example"] = "127.0.0.1";
    // What the shell would have run.
    fake.on_command = [this](const std::string& command, std::string&) {
      if (command == "sh /tmp/custom.sh") ran.push_back(fake.read(kCustomScriptFile));
      return -1;
    };
  }
  std::string url() const { return "http://scripts.example:" + std::to_string(server.port()) + "/dir"; }
  // Connects to the scripted server as run_custom_script does and fetches.
  int fetch(const ServerReply& reply) {
    server.script(reply);
    int sock = connect_to(kScriptConnect, "scripts.example", nullptr, server.port());
    EXPECT_GE(sock, 0);
    int result = fetch_custom_script(sock, "scripts.example", "/dir/custom.sh");
    close(sock);
    return result;
  }

  ScriptedServer server;
  Strings ran;  // the script's text at each run
};

// The host of a death test's child: its standard error also reaches the
// real one, where the test sees it, and at the exit it says whether a
// script file was left and removes its folder.
class ChildHost : public FakeHost {
 public:
  ChildHost() {
    current = this;
    atexit(at_exit);
  }
  void err(const char* text) override {
    FakeHost::err(text);
    fputs(text, stderr);
  }

 private:
  static void at_exit() {
    fputs(current->exists(kCustomScriptFile) ? "script left\n" : "no script left\n", stderr);
    std::string cmd = std::string("rm -rf '") + current->root() + "'";
    if (system(cmd.c_str()) != 0) {
    }
  }
  static ChildHost* current;
};
ChildHost* ChildHost::current = nullptr;

// A full /tmp: writes beyond `bytes` fail instead of ending the process.
void fill_tmp_after(rlim_t bytes) {
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit;
  limit.rlim_cur = bytes;
  limit.rlim_max = bytes;
  setrlimit(RLIMIT_FSIZE, &limit);
}

}  // namespace

TEST_F(CustomScript, NewMd5WithTheScriptEnabledStoresAndAsksForOneRun) {
  apply_custom_script_setting("cs_enable", "1", config);
  apply_custom_script_setting("CS_URL", "http://scripts.example:8080/dir", config);
  apply_custom_script_setting("cs_md5", "0cc175b9c0f1b6a831c399e269772661", config);
  EXPECT_EQ(1, config.custom_script.enable);
  EXPECT_EQ("http://scripts.example:8080/dir", std::string(config.custom_script.url));
  EXPECT_EQ(1, config.custom_script.run_pending);
  EXPECT_EQ(3, config.changes[kRowCustomScript]);
  EXPECT_EQ((Strings{"uci set node.setting.cs_url=http://scripts.example:8080/dir",
                     "uci set node.setting.cs_md5=0cc175b9c0f1b6a831c399e269772661\n"}),
            runs());
  EXPECT_EQ("Received Custom Script enable: 1\nReceived Custom Script URL: http://scripts.example:8080/dir\n",
            fake.stdout_text);

  // The same md5 in the next reply: no second run.
  config.changes = ChangeCounts{};
  fake.events.clear();
  apply_custom_script_setting("cs_enable", "1", config);
  apply_custom_script_setting("cs_url", "http://scripts.example:8080/dir", config);
  apply_custom_script_setting("cs_md5", "0cc175b9c0f1b6a831c399e269772661", config);
  EXPECT_EQ(0, config.custom_script.run_pending);
  EXPECT_EQ(0, config.changes[kRowCustomScript]);
  EXPECT_TRUE(runs().empty());
}

TEST_F(CustomScript, Md5WhileDisabledStoresNothingAndRunsNothing) {
  config.custom_script.run_pending = 1;
  apply_custom_script_setting("cs_url", "http://scripts.example/dir", config);
  apply_custom_script_setting("cs_md5", "92eb5ffee6ae2fec3ad71c777531578f", config);
  EXPECT_EQ("", std::string(config.custom_script.url));
  EXPECT_EQ("", std::string(config.custom_script.md5));
  EXPECT_EQ(0, config.custom_script.run_pending);
  EXPECT_EQ(0, config.changes[kRowCustomScript]);
  EXPECT_TRUE(fake.commands.empty());
}

TEST_F(CustomScript, LinesWithoutValuesAndKeysOfOtherRows) {
  config.custom_script.enable = 1;
  config.custom_script.url.set("http://scripts.example/dir");
  config.custom_script.run_pending = 1;
  apply_custom_script_setting("cs_enable", "", config);
  apply_custom_script_setting("cs_url", "", config);
  apply_custom_script_setting("cs_md5", "", config);
  apply_custom_script_setting("cs_other", "1", config);
  apply_custom_script_setting("sum", "1", config);  // a firmware row: code 3
  EXPECT_EQ(
      "Custom script config:Not receieved\n"
      "Received Custom Script URL: \n"
      "Custom Script Config: received bad config\n"
      "Custom Script Config: received bad config\n",
      fake.stdout_text);
  EXPECT_EQ("http://scripts.example/dir", std::string(config.custom_script.url));
  EXPECT_EQ(1, config.custom_script.run_pending);  // an md5 line without value changes nothing
  // A key of a later group takes that row's code: ftp is code 0, the enable.
  apply_custom_script_setting("ftp", "0", config);
  EXPECT_EQ(0, config.custom_script.enable);
  EXPECT_TRUE(fake.commands.empty());
}

TEST_F(CustomScript, ValuesReachUciQuotedAndAUrlBeyondItsFieldIsNeverFetched) {
  config.custom_script.enable = 1;
  config.custom_script.url.set("http://scripts.example/site-1");
  // Cut to its field, ".../site-10" would name another site's script.
  std::string long_url = "http://scripts.example/" + std::string(70, 'd') + "/site-10";
  apply_custom_script_setting("cs_url", long_url.c_str(), config);
  apply_custom_script_setting("cs_md5", "x;reboot", config);
  EXPECT_EQ("", std::string(config.custom_script.url));
  EXPECT_EQ((Strings{"uci set node.setting.cs_md5='x;reboot'\n"}), runs());
  EXPECT_NE(std::string::npos, fake.stdout_text.find("Custom Script URL refused: longer than 99 characters\n"));
  run_pending_custom_script(config);
  EXPECT_EQ(0u, server.connections());
  EXPECT_TRUE(ran.empty());
}

TEST(ScriptUrl, TheFourFormsAndTheAngleBrackets) {
  struct Case {
    const char* url;
    int result;
    const char* host;
    int port;
    const char* page;
  };
  const Case cases[] = {
      {"http://scripts.example:8080/dir", 0, "scripts.example", 8080, "/dir/custom.sh"},
      {"http://scripts.example/dir/sub", 0, "scripts.example", 80, "/dir/sub/custom.sh"},
      {"http://scripts.example:8080", 0, "scripts.example", 8080, "//custom.sh"},
      {"http://scripts.example", 0, "scripts.example", 80, "//custom.sh"},
      {"<http://scripts.example:8080/dir>", 0, "scripts.example", 8080, "/dir/custom.sh"},
      // A port that did not parse must not stay behind for the next form.
      {"http://h:12x/c", 0, "h:12x", 80, "/c/custom.sh"},
      {"ftp://scripts.example/dir", 1, "", 80, ""},
      {"http://scripts.example:70000/dir", 1, "", 80, ""},
      {"http://scripts.example:0/dir", 1, "", 80, ""},
      {"", 1, "", 80, ""},
  };
  for (const Case& c : cases) {
    FakeHost fake;
    ScopedHost scope(fake);
    ScriptUrl out;
    EXPECT_EQ(c.result, parse_script_url(c.url, out)) << c.url;
    EXPECT_EQ(c.host, std::string(out.host)) << c.url;
    EXPECT_EQ(c.port, out.port) << c.url;
    EXPECT_EQ(c.page, std::string(out.page)) << c.url;
  }
  FakeHost fake;
  ScopedHost scope(fake);
  ScriptUrl out;
  parse_script_url("http://scripts.example:8080/dir", out);
  parse_script_url("gopher://x", out);
  EXPECT_EQ("host = scripts.example\npage = \"/dir/custom.sh\"\nport = \"8080\"\nURL = \"gopher://x\"\nError. ",
            fake.stdout_text);
}

TEST_F(CustomScript, ScriptStartsAtTheFirstHashAndTheRestOfTheStreamIsKept) {
  ASSERT_EQ("", server.error());
  EXPECT_EQ(0, fetch(ServerReply::text(std::string("HTTP/1.0 200 OK\r\nServer: s\r\n\r\n") + kScript)));
  EXPECT_EQ(kRequest, server.request(0));
  EXPECT_EQ(kScript, fake.read(kCustomScriptFile));
  EXPECT_NE(std::string::npos, fake.stdout_text.find("found # at 30\nOk received from server!\n"));

  // All the bytes its head announced (in any spelling of the header).
  fake.remove(kCustomScriptFile);
  EXPECT_EQ(0, fetch(ServerReply::segments(
                   {"HTTP/1.0 200 OK\r\ncontent-length: " + std::to_string(strlen(kScript)) + "\r\n\r\n", kScript},
                   Millis(30))));
  EXPECT_EQ(kScript, fake.read(kCustomScriptFile));

  // A header's name in the script's own text announces nothing.
  fake.remove(kCustomScriptFile);
  EXPECT_EQ(0, fetch(ServerReply::text("HTTP/1.0 200 OK\r\n\r\n#!/bin/sh\nContent-Length: 400\n")));
  EXPECT_EQ("#!/bin/sh\nContent-Length: 400\n", fake.read(kCustomScriptFile));
  // Nor does a number after an empty header, on a later line.
  fake.remove(kCustomScriptFile);
  EXPECT_EQ(0, fetch(ServerReply::text("HTTP/1.0 200 OK\r\nContent-Length:\r\n\r\n400\n#!/bin/sh\n")));

  // In several segments: the later ones are written whole, '#' or not.
  fake.remove(kCustomScriptFile);
  EXPECT_EQ(0,
            fetch(ServerReply::segments(
                {"HTTP/1.0 200 OK\r\n\r\n", "#!/bin/sh\necho one\n", "# two\n", "echo three # four\n"}, Millis(60))));
  EXPECT_EQ("#!/bin/sh\necho one\n# two\necho three # four\n", fake.read(kCustomScriptFile));
}

TEST_F(CustomScript, ErrorPagesAndCutRepliesLeaveNoFile) {
  struct Case {
    const char* what;
    ServerReply reply;
    std::string printed;  // on standard output or error
  };
  ServerReply held;
  held.pieces = {std::string("HTTP/1.0 200 OK\r\n\r\n") + kScript};
  held.hold = true;
  dashboard_link().reply_timeout = 1;
  dashboard_link().exchange_limit = 2;
  // The script a line every 0.6 s, each within the time-out, never ending.
  ServerReply trickled = ServerReply::segments(
      {"HTTP/1.0 200 OK\r\n\r\n#!/bin/sh\n", "echo 1\n", "echo 2\n", "echo 3\n", "echo 4\n", "echo 5\n"}, Millis(600));
  trickled.hold = true;
  const Case cases[] = {
      {"a 404 page with a '#'",
       ServerReply::text("HTTP/1.0 404 Not Found\r\n\r\n<body style=\"color:#333\">#!no</body>\n"),
       "No script in the reply from scripts.example: nothing to run\n"},
      {"no '#' at all", ServerReply::text("HTTP/1.0 500 Oops\r\n\r\nbroken\n"),
       "No script in the reply from scripts.example: nothing to run\n"},
      {"a '#' at the very end", ServerReply::text("HTTP/1.0 200 OK\r\n\r\n#!/"),
       "No script in the reply from scripts.example: nothing to run\n"},
      {"a server that never closes", held, "recv() timed out.\nOk received from server!\n"},
      {"a server that trickles", trickled, "Reply not complete after 2 s: given up\nOk received from server!\n"},
      {"a reset in the middle of the script",
       ServerReply::reset_after("HTTP/1.0 200 OK\r\n\r\n#!/bin/sh\nrm -rf /tmp/"),
       "recv() failed due to errno = " + std::to_string(ECONNRESET) + "\n"},
      {"a clean close before the announced length",
       ServerReply::text("HTTP/1.0 200 OK\r\nContent-Length: 33\r\n\r\n#!/bin/sh\nrm -rf /tmp"),
       "Script download incomplete: nothing to run\n"},
  };
  for (const Case& c : cases) {
    fake.write(kCustomScriptFile, "left from before\n");
    fake.stdout_text.clear();
    fake.stderr_text.clear();
    EXPECT_EQ(1, fetch(c.reply)) << c.what;
    EXPECT_FALSE(fake.exists(kCustomScriptFile)) << c.what;
    EXPECT_NE(std::string::npos, (fake.stdout_text + fake.stderr_text).find(c.printed))
        << c.what << "\n"
        << fake.stdout_text << fake.stderr_text;
  }
}

TEST_F(CustomScript, RunFetchesRunsOnceAndRemovesTheScript) {
  server.script(ServerReply::text(std::string("HTTP/1.0 200 OK\r\n\r\n") + kScript));
  EXPECT_EQ(0, run_custom_script(url().c_str()));
  EXPECT_EQ(kRequest, server.request(0));
  EXPECT_EQ((Strings{kScript}), ran);
  EXPECT_EQ((Strings{"sh /tmp/custom.sh"}), runs());
  EXPECT_FALSE(fake.exists(kCustomScriptFile));
  EXPECT_NE(std::string::npos, fake.stdout_text.find("hostname: scripts.example\naddress: 127.0.0.1\n"));
  EXPECT_EQ("Connect: Success\n", fake.stderr_text);
}

TEST_F(CustomScript, NothingRunsWithoutAScript) {
  // An error page.
  server.script(ServerReply::text("HTTP/1.0 404 Not Found\r\n\r\n<p>#404</p>\n"));
  EXPECT_EQ(1, run_custom_script(url().c_str()));
  // A server that is not there: connect refused, nothing received.
  unsigned short port = server.port();
  {
    ScriptedServer gone;
    port = gone.port();
  }
  std::string refused = "http://scripts.example:" + std::to_string(port) + "/dir";
  fake.stderr_text.clear();
  EXPECT_EQ(1, run_custom_script(refused.c_str()));
  EXPECT_EQ(0u, fake.stderr_text.find("Connect: "));
  EXPECT_NE(0u, fake.stderr_text.find("Connect: Success"));
  EXPECT_EQ(1, run_custom_script(""));
  EXPECT_TRUE(ran.empty());
  EXPECT_TRUE(runs().empty());
}

TEST(CustomScriptHost, UnresolvableHostEndsTheControllerWithStatusOne) {
  EXPECT_EXIT(
      {
        ChildHost echoing;
        ScopedHost scope(echoing);
        run_custom_script("http://nowhere.example/dir");
      },
      ::testing::ExitedWithCode(1), "^ gethostbyname error for host: nowhere.example: Unknown hostno script left\n$");
  // An unparsable URL leaves the host empty, which does not resolve either.
  EXPECT_EXIT(
      {
        ChildHost echoing;
        ScopedHost scope(echoing);
        run_custom_script("scripts.example/dir");
      },
      ::testing::ExitedWithCode(1), "gethostbyname error for host: : Unknown host");
}

TEST(CustomScriptHost, ShortWriteRemovesThePartialScriptAndEndsTheController) {
  // The whole reply waits in a socket whose other end is closed: the child
  // needs no server thread, which a forked process would lack.
  int ends[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, ends));
  std::string reply = std::string("HTTP/1.0 200 OK\r\n\r\n") + kScript + std::string(200, '#');
  ASSERT_EQ(static_cast<ssize_t>(reply.size()), write(ends[1], reply.data(), reply.size()));
  close(ends[1]);
  EXPECT_EXIT(
      {
        fill_tmp_after(100);  // more than the captured standard error needs
        ChildHost echoing;
        ScopedHost scope(echoing);
        fetch_custom_script(ends[0], "scripts.example", "/dir/custom.sh");
      },
      ::testing::ExitedWithCode(1), "^File write failed.\nno script left\n$");
  close(ends[0]);
}

// A check-in's steps from the parse on, as send_checkin runs them.
TEST_F(CustomScript, CheckinWhoseReplyEnablesAScriptRunsItOnce) {
  server.script(ServerReply::text(std::string("HTTP/1.0 200 OK\r\n\r\n") + kScript));
  fake.outputs[kMd5Command] = std::string(kScriptMd5) + "\n";
  const std::string reply = "#@#config customscript\ncs_enable 1\ncs_url " + url() + "\ncs_md5 " + kScriptMd5 + "\n";
  for (int checkin = 0; checkin < 2; ++checkin) {
    fake.write("/tmp/.received", reply);
    ASSERT_EQ(0, parse_config_reply("/tmp/.received", config));
    run_pending_custom_script(config);
  }
  EXPECT_EQ((Strings{kScript}), ran);
  EXPECT_EQ(1u, server.connections());
  EXPECT_EQ(
      (Strings{"uci set node.setting.cs_url=" + url(), "uci set node.setting.cs_md5=" + std::string(kScriptMd5) + "\n",
               "uci commit node", "sh /tmp/custom.sh"}),
      runs());
  EXPECT_EQ((Strings{"Running Custom Script\n", "Custom script MD5 sum not changed\n"}), logs(LOG_DEBUG));

  // The script runs as root: one that is not the script the md5 names is
  // removed unrun; an md5 text that is no md5 only says the script changed.
  const struct {
    const char* md5;
    bool runs;
  } cases[] = {{"00000000000000000000000000000000", false}, {"v2", true}};
  for (const auto& c : cases) {
    ran.clear();
    fake.stdout_text.clear();
    fake.write("/tmp/.received", "#@#config customscript\ncs_md5 " + std::string(c.md5) + "\n");
    ASSERT_EQ(0, parse_config_reply("/tmp/.received", config));
    run_pending_custom_script(config);
    EXPECT_EQ(c.runs ? Strings{kScript} : Strings{}, ran) << c.md5;
    EXPECT_FALSE(fake.exists(kCustomScriptFile)) << c.md5;
    const std::string refusal =
        std::string("Custom script MD5 NOT valid (received ") + c.md5 + ", computed " + kScriptMd5 + "): not run\n";
    EXPECT_EQ(!c.runs, fake.stdout_text.find(refusal) != std::string::npos) << fake.stdout_text;
  }
}
