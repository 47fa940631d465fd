#include "common/testing/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

struct ScriptedServer::Connection {
  int fd = -1;
  ServerReply reply;
  std::string request;
  bool complete = false;
  std::thread worker;
};

ServerReply ServerReply::text(const std::string& reply) {
  ServerReply r;
  r.pieces = {reply};
  return r;
}

ServerReply ServerReply::segments(const std::vector<std::string>& pieces, Millis pause) {
  ServerReply r;
  r.pieces = pieces;
  r.pause = pause;
  return r;
}

ServerReply ServerReply::after(Millis delay, const std::string& reply) {
  ServerReply r = text(reply);
  r.delay = delay;
  return r;
}

ServerReply ServerReply::never() {
  ServerReply r;
  r.hold = true;
  return r;
}

ServerReply ServerReply::reset_after(const std::string& partial) {
  ServerReply r = text(partial);
  r.reset = true;
  return r;
}

ServerReply ServerReply::closed() {
  ServerReply r;
  r.close_at_once = true;
  return r;
}

namespace {

// Bytes the request still needs: until the empty line after the head, then
// the body its Content-length announces. -1 while the head is incomplete.
long missing(const std::string& req) {
  size_t end = req.find("\r\n\r\n");
  if (end == std::string::npos) return -1;
  size_t body_start = end + 4;
  long length = 0;
  size_t pos = 0;
  while (pos < end) {
    size_t eol = req.find("\r\n", pos);
    std::string line = req.substr(pos, eol - pos);
    const char key[] = "content-length:";
    if (line.size() >= sizeof(key) - 1 && strncasecmp(line.c_str(), key, sizeof(key) - 1) == 0) {
      length = strtol(line.c_str() + sizeof(key) - 1, nullptr, 10);
    }
    pos = eol + 2;
  }
  long have = static_cast<long>(req.size() - body_start);
  return length > have ? length - have : 0;
}

}  // namespace

ScriptedServer::ScriptedServer(const std::string& address, unsigned short port) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) {
    error_ = std::string("socket: ") + strerror(errno);
    return;
  }
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    error_ = "not an IPv4 address: " + address;
  } else if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
    error_ = "bind " + address + ":" + std::to_string(port) + ": " + strerror(errno);
  } else if (listen(listen_fd_, 16) != 0) {
    error_ = std::string("listen: ") + strerror(errno);
  }
  if (!error_.empty()) {
    close(listen_fd_);
    listen_fd_ = -1;
    return;
  }
  socklen_t len = sizeof(sa);
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.sin_port);
  acceptor_ = std::thread([this] { accept_loop(); });
}

ScriptedServer::~ScriptedServer() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  if (acceptor_.joinable()) acceptor_.join();
  for (auto& c : conns_) {
    if (c->worker.joinable()) c->worker.join();
  }
  if (listen_fd_ >= 0) close(listen_fd_);
}

void ScriptedServer::script(const ServerReply& reply) {
  std::lock_guard<std::mutex> lock(mu_);
  script_.push_back(reply);
}

std::string ScriptedServer::request(size_t i, Millis wait) const {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait_for(lock, wait, [&] { return i < conns_.size() && conns_[i]->complete; });
  return i < conns_.size() ? conns_[i]->request : "";
}

size_t ScriptedServer::connections() const {
  std::lock_guard<std::mutex> lock(mu_);
  return conns_.size();
}

bool ScriptedServer::sleep_unless_stopped(Millis d) {
  std::unique_lock<std::mutex> lock(mu_);
  return !cv_.wait_for(lock, d, [&] { return stop_; });
}

void ScriptedServer::accept_loop() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stop_) return;
    }
    pollfd p = {listen_fd_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    std::lock_guard<std::mutex> lock(mu_);
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    size_t n = conns_.size();
    if (n < script_.size()) {
      c->reply = script_[n];
    } else if (!script_.empty()) {
      c->reply = script_.back();
    }
    Connection* raw = c.get();
    conns_.push_back(std::move(c));
    raw->worker = std::thread([this, raw] { serve(raw); });
  }
}

void ScriptedServer::serve(Connection* c) {
  const ServerReply& r = c->reply;
  if (!r.close_at_once) {
    // Read the request; a client that stops sending ends it after a while.
    std::string req;
    auto give_up = std::chrono::steady_clock::now() + Millis(5000);
    while (missing(req) != 0 && std::chrono::steady_clock::now() < give_up) {
      {
        std::lock_guard<std::mutex> lock(mu_);
        if (stop_) break;
      }
      pollfd p = {c->fd, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buf[4096];
      ssize_t n = recv(c->fd, buf, sizeof(buf), 0);
      if (n <= 0) break;
      req.append(buf, static_cast<size_t>(n));
    }
    std::lock_guard<std::mutex> lock(mu_);
    c->request = req;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    c->complete = true;
  }
  cv_.notify_all();

  bool go_on = !r.close_at_once && (r.delay.count() == 0 || sleep_unless_stopped(r.delay));
  for (size_t i = 0; go_on && i < r.pieces.size(); ++i) {
    if (i > 0 && r.pause.count() > 0 && !sleep_unless_stopped(r.pause)) break;
    const std::string& piece = r.pieces[i];
    size_t sent = 0;
    while (sent < piece.size()) {
      ssize_t n = send(c->fd, piece.data() + sent, piece.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  }
  if (r.hold) {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return stop_; });
  }
  if (r.reset) {
    linger l = {1, 0};
    setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
  }
  close(c->fd);
}

unsigned short closed_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(sa);
  bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  close(fd);
  return ntohs(sa.sin_port);
}
