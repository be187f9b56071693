// The state tokens of a client's command stream that act on the render
// state of the current render context: opcodes 5 to 7, 12, 14, 18, 32, 35
// to 39, 53, 54 and 69 of the interpreter's handler list (declared there,
// kernel/3d/client/token_interpreter.h). Each handler gets the kernel's
// copy of the token's entries (count of them, each of the opcode's fixed
// size, at any alignment) and applies them in order; for opcode 7 only
// the first entry counts, for 39, 53 and 54 only the last.
#pragma once

#include "kernel/3d/client/token_interpreter.h"
