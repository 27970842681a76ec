#pragma once

#include <cstdint>

// True on the NT family, where a process must enable the shutdown privilege
// in its token before it may end the session.
bool IsNtPlatform();

// Best effort: a failure goes unnoticed here, because the session-end request
// itself refuses a shutdown that lacks the privilege.
void EnableShutdownPrivilege();

// Hands exitFlags to the platform bit for bit and tells whether the platform
// accepted the request.
bool RequestSessionEnd(std::int32_t exitFlags);
