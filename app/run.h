#pragma once

// The whole run after the command line has been cut: returns the process's
// exit status, 0 when the platform accepted the request and 1 when it refused.
int RunSessionEnd(const char* commandTail);
