// One status line of a service, as the self-tests print it.
#pragma once

// Prints "<name> is running. ServiceType: ... ControlsAccepted: ... PID ..." whenever the status can be read,
// whatever the state (a stopped service shows PID 0); prints nothing when it cannot.
void print_service_status(const char* name);
