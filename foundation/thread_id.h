// Numeric thread identities for the synchronisation classes: every thread gets a small number on its
// first use, never 0 (0 means "no thread", as a free mutex's owner) and never reused in the process.
#pragma once

#include <cstdint>

// The calling thread's identity; assigned on first call.
uint32_t GetCurrentThreadIdentity();

// A fresh identity for a thread that is about to be created, so that its creator can register it
// before the thread runs. The new thread takes it with AssignCurrentThreadId as its first action.
uint32_t AllocateThreadId();
void AssignCurrentThreadId(uint32_t id);
