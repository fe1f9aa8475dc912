// ClosedPort(), a port of 127.0.0.1 that nothing listens on, now lives with the tests' other sockets.
#pragma once

#include "test_sockets.h"
