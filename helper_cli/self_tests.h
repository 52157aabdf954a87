// The interpreter's "-ut service" diagnostics: agent and client service status, the agent's status through
// its automation object, and the protection service's SIDs checked against Windows'.
#pragma once

#include "helper/iovchelper.h"

void run_self_tests(iovchelper* helper);
