// The driver's own "XINERAMA" answers for a screen that spans several
// heads, when the server does not run its own Xinerama: the number of
// heads and each head's rectangle, from X screen 0's head layout.
#pragma once

#include "platform/xserver/dix.h"

// Registers the extension once per server generation and decides whether
// it is active for X screen 0.
void PSRAMAExtensionInit(void);
int ProcPSRAMADispatch(ClientPtr client);
int SProcPSRAMADispatch(ClientPtr client);
void PSRAMAResetProc(ExtensionEntry* extension);

// Whether the extension answers with the head layout.
bool PSRAMAIsActive(void);
