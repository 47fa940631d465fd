#include "common/testing/stand_ins.h"

std::string uci_stand_in_body(const std::string& store) {
  return "case \"$1\" in\n"
         "get) [ -f \"" +
         store +
         "/$2\" ] || { echo \"uci: Entry not found\" >&2; exit 1; }\n"
         "     IFS= read -r v < \"" +
         store +
         "/$2\"; printf '%s\\n' \"$v\" ;;\n"
         "set) printf '%s\\n' \"${2#*=}\" > \"" +
         store +
         "/${2%%=*}\" ;;\n"
         "commit) ;;\n"
         "*) exit 1 ;;\n"
         "esac\n";
}
