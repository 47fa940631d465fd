#include "common/transport.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cstring>

#include "common/host.h"
#include "common/output.h"
#include "common/profile.h"
#include "common/signals.h"
#include "common/text.h"

namespace {

const char kFallbackText[] = "Using fallback IP to connect the dashboard";

void say_resolving(ConnectTalk talk, const char* name) {
  switch (talk) {
    case ConnectTalk::kHost:
      out_printf("Resolving Host: %s\n", name);
      break;
    case ConnectTalk::kHostLogged:
      log_printf(LOG_DEBUG, "Resolving Host: %s", name);
      break;
    case ConnectTalk::kDashboard:
      out_printf("Resolving Dashboard: %s\n", name);
      break;
    default:
      break;
  }
}

void say_resolved(ConnectTalk talk, const char* name, const Resolved& r, int herr) {
  char dotted[INET_ADDRSTRLEN] = {0};
  inet_ntop(AF_INET, &r.addr, dotted, sizeof(dotted));
  if (talk == ConnectTalk::kDashboard) {
    // The resolver's text is printed whatever it says, as it always was.
    out_printf("Received Error: %s\n", hstrerror(herr));
    out_printf("Hostname: %s, Resolved to:%s\n", name, dotted);
  } else if (talk == ConnectTalk::kDownload) {
    out_printf("hostname: %s\n", r.official);
    out_printf("address: %s\n", dotted);
  }
}

void say_unresolved(ConnectTalk talk, const char* name, int herr, bool falling_back) {
  switch (talk) {
    case ConnectTalk::kHost:
      out_line(kFallbackText);
      break;
    case ConnectTalk::kHostLogged:
      log_printf(LOG_DEBUG, "%s", kFallbackText);
      break;
    case ConnectTalk::kDashboard:
      out_printf("Failed to resolved %s\n", name);
      if (falling_back) out_line(kFallbackText);
      out_printf("Received Error: %s\n", hstrerror(herr));
      break;
    case ConnectTalk::kDownload:
      err_printf(" gethostbyname error for host: %s: %s", name, hstrerror(herr));
      break;
    default:
      break;
  }
}

void say_socket_failed(ConnectTalk talk, const char* reason) {
  if (talk == ConnectTalk::kSilent) return;
  if (talk == ConnectTalk::kHostLogged) {
    log_printf(LOG_DEBUG, "Failed to create the new socket STREAM: %s", reason);
  } else {
    out_printf("Failed to create the new socket STREAM: %s\n", reason);
  }
}

void say_connect_failed(ConnectTalk talk) {
  const char* text = "Failed to connect to auth server";
  if (talk == ConnectTalk::kHostLogged) {
    log_printf(LOG_DEBUG, "%s", text);
  } else if (talk != ConnectTalk::kSilent) {
    out_line(text);
  }
}

// Connects without blocking the program's signals: the wait goes through
// wait_fd, so a termination request ends it. The kernel bounds the attempt.
bool connect_socket(int sock, const in_addr& addr, unsigned short port) {
  int flags = fcntl(sock, F_GETFL, 0);
  if (flags < 0 || fcntl(sock, F_SETFL, flags | O_NONBLOCK) < 0) return false;
  sockaddr_in sa;
  memset(&sa, 0, sizeof(sa));
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr = addr;
  if (connect(sock, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0) return true;
  if (errno != EINPROGRESS) return false;
  while (wait_fd(sock, POLLOUT, -1) < 0) {
    if (errno != EINTR) return false;
  }
  int err = 0;
  socklen_t len = sizeof(err);
  if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return false;
  if (err != 0) {
    errno = err;
    return false;
  }
  return true;
}

}  // namespace

DashboardLink& dashboard_link() {
  static DashboardLink link;
  return link;
}

int ConnectHost(const char* host, const char* fallback_ip) {
  return connect_to(*profile().host_connect, host, fallback_ip);
}

int connect_to(const ConnectVariant& v, const char* name, const char* fallback_ip, unsigned short port) {
  if (port == 0) port = dashboard_link().port;
  if (!name) name = "";
  say_resolving(v.talk, name);

  Resolved resolved;
  in_addr addr{};
  bool have_addr = false;
  int herr = host().resolve(name, resolved);
  if (herr == 0) {
    addr = resolved.addr;
    have_addr = true;
    say_resolved(v.talk, name, resolved, herr);
  } else {
    say_unresolved(v.talk, name, herr, v.fallback);
    if (!v.fallback) return -1;
    // A fallback that is no dotted quad must not become 0.0.0.0: Linux
    // takes that for the node itself, whose own web server answers on 80.
    have_addr = fallback_ip && inet_aton(fallback_ip, &addr) != 0;
  }

  int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (sock < 0) {
    say_socket_failed(v.talk, strerror(errno));
    return -1;
  }
  bool connected = false;
  if (have_addr) {
    connected = connect_socket(sock, addr, port);
  } else {
    errno = EDESTADDRREQ;
  }
  if (v.report_connect) {
    if (connected) errno = 0;  // perror's "Success"
    err_perror("Connect");
  }
  if (!connected && v.check_connect) {
    say_connect_failed(v.talk);
    close(sock);
    return -1;
  }
  if (v.talk == ConnectTalk::kDashboard) out_printf("Socket Desc: %d\n", sock);
  return sock;
}
