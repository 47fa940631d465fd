// The unit tests' uci stand-in and the product's shell quoting, for the
// check that holds them against the real uci (tests/openwrt/uci_agreement.py):
//   uci_stand_in STORE          prints the stand-in script over STORE
//   uci_stand_in --quote VALUE  prints VALUE's shell form, as the programs
//                               put it on a uci command line
#include <cstdio>
#include <cstring>

#include "common/shell_quote.h"
#include "common/testing/stand_ins.h"

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--quote") == 0) {
    fputs(ShellValue(argv[2]).c_str(), stdout);
    return 0;
  }
  if (argc != 2) {
    fputs("usage: uci_stand_in STORE | --quote VALUE\n", stderr);
    return 2;
  }
  fputs(("#!/bin/sh\n" + uci_stand_in_body(argv[1])).c_str(), stdout);
  return 0;
}
