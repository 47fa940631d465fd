// A stand-in Wi-Fi supplicant for tests: a datagram socket bound where the
// scan backend looks for the supplicant of an interface (under the fake
// host's root), answering each request with the replies a script gives.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/testing/fake_host.h"

class StandInSupplicant {
 public:
  using Script = std::function<std::vector<std::string>(const std::string& request)>;

  StandInSupplicant(FakeHost& fake, const std::string& ifname, Script script) : script_(std::move(script)) {
    std::string dir = fake.path("/var/run/wpa_supplicant-" + ifname);
    mkdir(dir.c_str(), 0755);
    path_ = dir + "/" + ifname;
    fd_ = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path_.copy(addr.sun_path, sizeof(addr.sun_path) - 1);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
      close(fd_);
      fd_ = -1;
      return;
    }
    thread_ = std::thread([this] { serve(); });
  }
  ~StandInSupplicant() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
    unlink(path_.c_str());
  }

  bool ready() const { return fd_ >= 0; }
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  // The address each request came from.
  std::vector<std::string> peers() {
    std::lock_guard<std::mutex> lock(mutex_);
    return peers_;
  }

 private:
  void serve() {
    while (!stop_) {
      pollfd p = {fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buf[4096];
      sockaddr_un from{};
      socklen_t from_len = sizeof(from);
      ssize_t n = recvfrom(fd_, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &from_len);
      if (n < 0) continue;
      std::string request(buf, static_cast<size_t>(n));
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        peers_.push_back(from.sun_path);
      }
      for (const std::string& reply : script_(request)) {
        sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), from_len);
      }
    }
  }

  Script script_;
  std::string path_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::vector<std::string> peers_;
};
