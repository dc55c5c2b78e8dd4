// The library's load and unload hooks. The platform layer calls them from the shared library's
// constructor and destructor, which stand in for a DLL entry point; the runtime defines them.
#pragma once

// Process attach: returns 0 when the unit is usable, nonzero when it is not (the failure is
// remembered by the runtime; a constructor cannot make the load itself fail).
int RuntimeProcessAttach(void);
// Whether the library got its thread slot when it was loaded: without one no thread can ever have
// a block, so no evaluation can run.
int RuntimeHasThreadSlot(void);
// Process detach: releases what the calling thread and the process hold.
void RuntimeProcessDetach(void);
