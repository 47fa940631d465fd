// The host and the kernel of a test program while no test installed one:
// every command, file access, signal, fork, sleep, log line, name lookup
// and kernel request fails the running test with the refused call named,
// so that a test that forgot its fakes never reaches the machine that runs
// the suite.
#pragma once

#include "common/host.h"
#include "common/kernel.h"

Host& refusing_host();
Kernel& refusing_kernel();
