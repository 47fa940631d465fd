#include "common/testing/fake_host.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/real_host.h"

namespace {

void make_parents(const std::string& file) {
  for (size_t i = 1; i < file.size(); ++i) {
    if (file[i] == '/') mkdir(file.substr(0, i).c_str(), 0755);
  }
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  size_t e = s.find_last_not_of(" \t");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// Undoes the shell's single quoting of a value ('a'\''b' -> a'b).
std::string unquote(const std::string& v) {
  std::string out;
  bool quoted = false;
  for (size_t i = 0; i < v.size(); ++i) {
    char c = v[i];
    if (c == '\'') {
      quoted = !quoted;
    } else if (c == '\\' && !quoted && i + 1 < v.size()) {
      out += v[++i];
    } else {
      out += c;
    }
  }
  return out;
}

// Splits a command line at the ";" that the shell would see: not inside
// quotes, not escaped, so a quoted value holding ";" stays whole.
std::vector<std::string> shell_parts(const std::string& command) {
  std::vector<std::string> parts(1);
  char quote = 0;
  for (size_t i = 0; i < command.size(); ++i) {
    char c = command[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\\' && i + 1 < command.size()) {
      parts.back() += c;
      c = command[++i];
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ';') {
      parts.emplace_back();
      continue;
    }
    parts.back() += c;
  }
  return parts;
}

}  // namespace

FakeHost::FakeHost() {
  // TMPDIR may name a faster place (the fuzz tier uses a tmpfs).
  const char* base = getenv("TMPDIR");
  std::string tmpl = std::string(base && *base == '/' ? base : "/tmp") + "/fakehost.XXXXXX";
  char* dir = mkdtemp(tmpl.data());
  root_ = dir ? dir : "/tmp";
  // The folders every node has.
  for (const char* d : {"/tmp", "/etc", "/var", "/var/run"}) mkdir((root_ + d).c_str(), 0755);
}

FakeHost::~FakeHost() {
  if (root_.find("/fakehost.") != std::string::npos) {
    std::string cmd = "rm -rf '" + root_ + "'";
    if (system(cmd.c_str()) != 0) {
    }
  }
  for (std::string* s : stream_texts_) delete s;
}

std::vector<std::string> FakeHost::trace(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const std::string& e : events) {
    if (e.rfind(prefix, 0) == 0) out.push_back(e);
  }
  return out;
}

std::vector<std::string> FakeHost::runs() const {
  std::vector<std::string> out;
  for (const std::string& e : trace("run ")) out.push_back(e.substr(4));
  return out;
}

std::vector<std::string> FakeHost::reads() const {
  std::vector<std::string> out;
  for (const std::string& e : trace("read ")) out.push_back(e.substr(5));
  return out;
}

std::vector<std::string> FakeHost::logs_at(int priority) const {
  std::vector<std::string> out;
  for (const auto& [p, text] : logs) {
    if (p == priority) out.push_back(text);
  }
  return out;
}

std::string FakeHost::path(const std::string& absolute) const { return root_ + absolute; }

const char* FakeHost::path(const char* node_path, PathText& out) {
  if (node_path && node_path[0] == '/') {
    out.format("%s%s", root_.c_str(), node_path);
  } else {
    out.set(node_path);
  }
  return out.c_str();
}

void FakeHost::write(const std::string& absolute, const std::string& content) {
  std::string p = path(absolute);
  make_parents(p);
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << content;
}

std::string FakeHost::read(const std::string& absolute) const {
  std::ifstream f(path(absolute), std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool FakeHost::exists(const std::string& absolute) const { return access(path(absolute).c_str(), F_OK) == 0; }

void FakeHost::remove(const std::string& absolute) { unlink(path(absolute).c_str()); }

void FakeHost::add_process(long pid, const std::string& name, char state) {
  write("/proc/" + std::to_string(pid) + "/stat",
        std::to_string(pid) + " (" + name + ") " + state + " 1 1 1 0 -1 4194560\n");
}

void FakeHost::apply_uci(const std::string& command) {
  // Each ";"-joined part of the line may be a "uci set key=value".
  for (std::string part : shell_parts(command)) {
    part = trim(part);
    const std::string set = "uci set ";
    if (part.rfind(set, 0) != 0) continue;
    std::string assignment = part.substr(set.size());
    size_t eq = assignment.find('=');
    if (eq == std::string::npos) continue;
    std::string value = assignment.substr(eq + 1);
    while (!value.empty() && value.back() == '\n') value.pop_back();
    uci[assignment.substr(0, eq)] = unquote(value);
  }
}

void FakeHost::forget() {
  commands.clear();
  events.clear();
  stdout_text.clear();
  stderr_text.clear();
  logs.clear();
  sleeps.clear();
  kills.clear();
  for (std::string* s : stream_texts_) delete s;
  stream_texts_.clear();
}

int FakeHost::command(const std::string& cmd, std::string& output) {
  commands.push_back(cmd);
  if (on_command) {
    int rc = on_command(cmd, output);
    if (rc >= 0) return rc;
  }
  auto out = outputs.find(cmd);
  if (out != outputs.end()) {
    output = out->second;
  } else if (cmd.rfind("uci get ", 0) == 0) {
    auto v = uci.find(trim(cmd.substr(8)));
    if (v != uci.end()) {
      output = v->second + "\n";
    } else {
      return 1;  // uci complains on stderr only
    }
  }
  apply_uci(cmd);
  auto code = exit_codes.find(cmd);
  return code == exit_codes.end() ? 0 : code->second;
}

int FakeHost::run(const char* cmd) {
  events.push_back(std::string("run ") + cmd);
  if (real_commands) {
    commands.push_back(cmd);
    return real_host().run(cmd);
  }
  std::string ignored;
  int code = command(cmd, ignored);
  return code << 8;  // a wait status, as system() gives it
}

int FakeHost::open_command(const char* cmd, CommandStream& out) {
  out = CommandStream();
  events.push_back(std::string("read ") + cmd);
  if (real_commands) {
    commands.push_back(cmd);
    return real_host().open_command(cmd, out);
  }
  std::string* text = new std::string();
  command(cmd, *text);
  stream_texts_.push_back(text);
  stream_from_text(out, text->data(), text->size());
  return 0;
}

int FakeHost::close_command(CommandStream& out) {
  if (!stream_scripted(out)) return real_host().close_command(out);
  stream_closed(out);
  return 0;
}

int FakeHost::write_file(const char* p, const char* text) {
  if (Host::write_file(p, text) != 0) return -1;
  events.push_back(std::string("write ") + p + " " + text);
  return 0;
}

int FakeHost::replace_file(const char* p, const char* text) {
  if (Host::replace_file(p, text) != 0) return -1;
  events.push_back(std::string("write ") + p + " " + text);
  return 0;
}
void FakeHost::sleep(unsigned seconds) {
  sleeps.push_back(seconds);
  events.push_back("sleep " + std::to_string(seconds));
}

int FakeHost::kill(pid_t pid, int sig) {
  kills.emplace_back(pid, sig);
  events.push_back("kill " + std::to_string(pid) + " " + std::to_string(sig));
  return 0;
}

pid_t FakeHost::fork() {
  events.push_back("fork");
  if (fork_results.empty()) return 4242;
  pid_t r = fork_results.front();
  fork_results.erase(fork_results.begin());
  return r;
}

void FakeHost::out(const char* text) {
  stdout_text += text;
  events.push_back(std::string("out ") + text);
}

void FakeHost::err(const char* text) {
  stderr_text += text;
  events.push_back(std::string("err ") + text);
}

void FakeHost::open_log(const char* ident, int options) {
  events.push_back(std::string("openlog ") + ident + " " + std::to_string(options));
}

void FakeHost::log(int priority, const char* text) {
  logs.emplace_back(priority, text);
  events.push_back("log " + std::to_string(priority) + " " + text);
}

int FakeHost::resolve(const char* name, Resolved& out) {
  std::string address;
  auto it = hosts.find(name);
  if (it != hosts.end()) {
    address = it->second;
  } else if (inet_aton(name, &out.addr)) {
    address = name;
  } else {
    return HOST_NOT_FOUND;
  }
  if (!inet_aton(address.c_str(), &out.addr)) return NO_ADDRESS;
  snprintf(out.official, sizeof(out.official), "%s", name);
  return 0;
}

ScopedRealHost::ScopedRealHost() : ScopedHost(real_host()) {}
