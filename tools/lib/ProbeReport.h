// The probe of the current configuration and board, and the text report of
// the wizard's --probe.
#pragma once

#include "tools/lib/Probe.h"
#include "tools/lib/UpdateEngine.h"

extern const char* const s_dispMode[4];
extern const char* const s_layout[4];
extern const char* const s_rotate[3];

// 0 or 3 (several boards), 1 when the file does not parse, 26 when no board
// of the maker is on the bus; the summary is filled from the file in every
// case but 1. Free the lists with FreeXConfigInfo.
int ProbeXConfig(XConfigInfo* info);
void FreeXConfigInfo(XConfigInfo* info);
// 0 or 3 with the board's record filled, 1 on a parse failure, 26 without a
// board. Free the record with FreeCardInfo.
int ProbeCardInfoStruct(CardInfo* card);
// Prints the report on standard output; without a board the card section is
// left out and the answer is 26.
int ProbeSystem();
