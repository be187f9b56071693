// Slots 0 and 1 of the kernel core's entry table: module load and unload.
#pragma once

// Hands the module's parameter table to the glue, registers the 13 request
// handlers and fills the format capability table; 0.
int KernelCoreInit();
// Unregisters the handlers in the same order; 0.
int KernelCoreExit();
