// The host of a test program while no test installed one: every command,
// file access, signal, fork, sleep, log line and name lookup fails the
// running test with the refused call named, so that a test that forgot its
// fake host never reaches the machine that runs the suite.
#pragma once

#include "common/host.h"

Host& refusing_host();
