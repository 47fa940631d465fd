#include "common/host.h"
#include "common/output.h"
#include "common/runner.h"
#include "controller/applier.h"
#include "controller/config_record.h"
#include "controller/keywords.h"
#include "controller/settings/portal.h"
#include "controller/settings/setting_values.h"

namespace {

const char kArchive[] = "/tmp/splash.tar.gz";
const char kUnpacked[] = "/tmp/ndsplash";

}  // namespace

int apply_splash_setting(const char* key, const char* value, NodeConfig& config) {
  if (!same_keyword(key, "SplashURl")) return 1;
  if (!has_value(value)) return 0;
  CaptivePortalSettings& portal = config.captive_portal;
  if (!value_fits("Splash URL", value, portal.splash_url)) return 0;
  if (text_differs(portal.splash_url, value)) {
    portal.splash_url.set(value);
    portal.enable = 1;  // restart the portal with the new pages
  }
  // Every SplashURl line installs the pages again, changed or not.
  if (portal.splash_url != "none") install_splash_page(portal.splash_url);
  return 0;
}

void install_splash_page(const char* url) {
  if (refuse_option_like("Splash URL", url)) return;
  CommandText cmd;
  host().run(setting_command(cmd, "wget --no-cache ", url, " -O /tmp/splash.tar.gz"));
  if (path_exists(kArchive) != 0) return;
  if (make_directory(kUnpacked) != 0) return;
  // The pages in place are removed only once the new ones have unpacked: a
  // failed download (wget leaves an empty file) or a broken archive keeps
  // the portal's pages as they were.
  if (host().run("tar xzvf /tmp/splash.tar.gz -C /tmp/ndsplash") == 0) {
    host().run("rm -rf /etc/nodogsplash/htdocs/images");
    host().run("cp -r /tmp/ndsplash/* /etc/nodogsplash/htdocs/");
  } else {
    out_line("Unable to unpack the splash pages: the pages in place are kept");
  }
  host().sleep(1);
  host().run("rm -rf /tmp/ndsplash");
  host().sleep(1);
  host_unlink(kArchive);
}
