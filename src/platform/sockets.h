// Start-up and clean-up of the socket layer, once per user, as Winsock wants it.
#pragma once

namespace kestrav::platform
{
// On POSIX there is nothing to start; the calls are still counted so that every
// start-up can be checked to have its clean-up.
bool StartSockets();
void CleanupSockets();
int ActiveSocketStartups();
}
