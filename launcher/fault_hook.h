#pragma once
// A test build of the program (never the product) can be told to fail at a
// named point; in the product every fault point is empty.
#if defined(MODLAUNCHER_FAULT_HOOK)
// True when the test asked for a failure at the point `name`.
bool FaultRequested(const char* name);
// Raises the failure the test asked for, when it asked for one at `name`.
void FaultPoint(const char* name);
#else
constexpr bool FaultRequested(const char*) { return false; }
inline void FaultPoint(const char*) {}
#endif
