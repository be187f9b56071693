// The floating-point bracket of the module's requests. A kernel may not
// give the processor away while the bracket is open, yet the bounded waits
// of a request yield between tries (the glue serves interrupts there). The
// brackets a thread opens here are counted, so that a wait's pause closes
// them for its yield and opens them again as deep as they were. No
// floating-point value lives in a register across that pause: it is a call
// into another unit, and every vector register is the caller's to save.
#pragma once

#include <stdint.h>

void OpenFpuBracket();
void CloseFpuBracket();
// How many brackets of this thread are open.
uint32_t OpenFpuBrackets();
