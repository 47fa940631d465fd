// The CUSTOMSCRIPT section: a script named by URL and md5, fetched from the
// script server and run as root once for each new md5.
#pragma once

#include "common/text.h"

struct NodeConfig;

extern const char kCustomScriptFile[];  // "/tmp/custom.sh"

void apply_custom_script_setting(const char* key, const char* value, NodeConfig& config);

// Where the script lies: the URL names the folder that holds custom.sh.
struct ScriptUrl {
  FixedText<100> host;
  int port = 80;
  FixedText<256> page;  // "/<path>/custom.sh"
};
// Accepts "http://host:port/path", "http://host/path", "http://host:port"
// and "http://host", each also between angle brackets. 0, or 1 when the URL
// is absent or fits none of them (the host stays empty then).
int parse_script_url(const char* url, ScriptUrl& out);

// Sends the script request on the connected socket and writes the reply's
// script, from its "#!/b..." line on, to /tmp/custom.sh. 0 when a whole
// script was written; 1 when the reply held none, ended with an error,
// brought fewer bytes than its Content-Length announced or went on beyond
// 1 MiB (no file is left then). Ends the controller when the file cannot be
// written in full.
int fetch_custom_script(int sock, const char* host, const char* page);

// Fetches the script and runs it with sh, then removes it. When md5 is an
// md5 sum (32 hex digits) the script must have that sum, or it is removed
// unrun; any other md5 text only told that the script changed. Ends the
// controller (exit status 1) when the script host does not resolve. 0 when
// the script ran, else 1.
int run_custom_script(const char* url, const char* md5 = nullptr);

// The check-in's step after the parse: runs the script when a new md5 asked
// for it.
void run_pending_custom_script(const NodeConfig& config);
