// Lets a thread termination pass through a catch-all.
//
// A terminated module thread unwinds with platform::ThreadTerminated (see thread.h).
// Every `catch (...)` that can run on a module thread is preceded by
// KESTRAV_PASS_THREAD_TERMINATION so that the thread really ends:
//
//     try { Body(); }
//     KESTRAV_PASS_THREAD_TERMINATION
//     catch (...) { LogIt(); }
#pragma once

#include "platform/thread.h"

#define KESTRAV_PASS_THREAD_TERMINATION                  \
    catch (const ::kestrav::platform::ThreadTerminated&) \
    {                                                    \
        throw;                                           \
    }
