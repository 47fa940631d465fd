#include <cstdio>
#include <cstring>

#include "common/output.h"
#include "controller/applier.h"
#include "controller/settings/custom_script.h"

namespace {

struct UrlParts {
  char host[100];
  int port;
  char path[200];

  void clear() {
    memset(host, 0, sizeof(host));
    port = 80;
    memset(path, 0, sizeof(path));
  }
};

// The four forms, most specific first; the first that fills all its fields
// wins. A failed try may have filled some fields, hence the clearing.
bool split_url(const char* url, UrlParts& p) {
  p.clear();
  if (sscanf(url, "http://%99[^:]:%i/%199[^\n]", p.host, &p.port, p.path) == 3) return true;
  p.clear();
  if (sscanf(url, "http://%99[^/]/%199[^\n]", p.host, p.path) == 2) return true;
  p.clear();
  if (sscanf(url, "http://%99[^:]:%i[^\n]", p.host, &p.port) == 2) return true;
  p.clear();
  if (sscanf(url, "http://%99[^\n]", p.host) == 1) return true;
  p.clear();
  return false;
}

}  // namespace

int parse_script_url(const char* url, ScriptUrl& out) {
  out = ScriptUrl();
  if (!has_value(url)) {
    out_line("Required URL to parse");
    return 1;
  }
  char inner[1000];
  if (sscanf(url, "<%999[^>]>", inner) == 1) url = inner;
  UrlParts parts;
  // A port beyond TCP's range would wrap to some other port.
  if (!split_url(url, parts) || parts.port < 1 || parts.port > 65535) {
    out_printf("URL = \"%s\"\n", url);
    out_printf("Error. ");
    return 1;
  }
  out.host.set(parts.host);
  out.port = parts.port;
  out.page.format("/%s/custom.sh", parts.path);
  out_printf("host = %s\n", out.host.c_str());
  out_printf("page = \"%s\"\n", out.page.c_str());
  out_printf("port = \"%d\"\n", out.port);
  return 0;
}
