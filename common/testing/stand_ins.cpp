#include "common/testing/stand_ins.h"

std::string uci_stand_in_body(const std::string& store) {
  // Shell built-ins and rm only: the sandboxed shell has no other tools.
  return "s='" + store + "'\n" + R"(fail() { echo "uci: $1" >&2; exit 1; }
# a package is there while the store holds any of its keys
package() {
  for f in "$s/$1".*; do [ -e "$f" ] && return 0; done
  fail "Entry not found"
}
case $#:$1 in
1:commit) exit 0 ;;
2:commit) case $2 in ''|*[!!-~]*) fail "Parse error" ;; esac; package "$2"; exit 0 ;;
2:get) k=$2; v= ;;
2:set) case $2 in *=*) ;; *) fail "Invalid argument" ;; esac; k=${2%%=*}; v=${2#*=} ;;
*) echo "Usage: uci get|set|commit <config>[.<section>[.<option>]][=<value>]" >&2; exit 255 ;;
esac
p=${k%%.*}; sec=${k#*.}; o=${sec#*.}; sec=${sec%%.*}
case $k in *.*.*.*) n=4 ;; *.*.*) n=3 ;; *.*) n=2 ;; *) n=1 ;; esac
case $p in ''|*[!!-~]*) n=4 ;; esac
[ $n = 3 ] && case $o in ''|*[!A-Za-z0-9_]*) n=4 ;; esac
ctl=$(printf '\001\002\003\004\005\006\007\010\013\014\016\017\020\021\022\023\024\025\026\027\030\031\032\033\034\035\036\037')
case $v in *[$ctl]*) n=4 ;; esac
[ $n = 4 ] && fail "Parse error"
package "$p"
[ $n = 1 ] && { [ "$1" = get ] && exit 0; fail "Invalid argument"; }
case $sec in *[!A-Za-z0-9_]*|'') case $sec in @*\[*\]) ;; *) fail "Invalid argument" ;; esac ;; esac
if [ "$1" = get ]; then
  [ -f "$s/$p.$sec" ] && [ -f "$s/$k" ] || fail "Entry not found"
  while IFS= read -r l; do printf '%s\n' "$l"; done < "$s/$k"
elif [ $n = 2 ]; then
  if [ -z "$v" ]; then rm -f "$s/$k" "$s/$k".*; exit 0; fi
  case $v in *[!!-~]*) fail "Invalid argument" ;; esac
  [ -f "$s/$k" ] || case $sec in @*) fail "Invalid argument" ;; esac
  printf '%s\n' "$v" > "$s/$k"
else
  [ -f "$s/$p.$sec" ] || fail "Invalid argument"
  if [ -z "$v" ]; then rm -f "$s/$k"; else printf '%s\n' "$v" > "$s/$k"; fi
fi
)";
}

const std::map<std::string, std::string>& uci_node_sections() {
  static const std::map<std::string, std::string> sections = {
      {"wireless.radio0", "wifi-device"}, {"wireless.mesh", "wifi-iface"}, {"wireless.pub", "wifi-iface"},
      {"wireless.priv", "wifi-iface"},    {"dhcp.pub", "dhcp"},            {"dhcp.priv", "dhcp"},
      {"dhcp.mesh", "dhcp"},              {"node.status", "status"},       {"node.setting", "setting"},
      {"node.security", "security"},      {"system.@system[0]", "system"}, {"dashboard.remote", "remote"}};
  return sections;
}
