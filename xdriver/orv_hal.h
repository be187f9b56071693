// The hardware library as the X driver sees it: the facade over the board
// handle and the mode record it takes.
#pragma once

#include "hwsharing/chip/halstatus.h"
#include "hwsharing/hal/facade.h"
