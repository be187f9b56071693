// The later-generation twins of the PLL divider library (kind 1). The pll
// functions forward here when their parameter block says kind 1.
#pragma once

#include <cstdint>

#include "hwsharing/chip/pll.h"

uint32_t bri90pllInit(void* handle, uint32_t algorithm, uint32_t outputSel, int32_t frequency,
                      PLLDESCRIPTOR* d);
uint32_t bri90pllHwInit(void* handle, uint32_t outputSel, int32_t m1, int32_t p1, int32_t m2,
                        int32_t p2, PLLDESCRIPTOR* d);
uint32_t bri90pllTestDividers(void* handle, uint32_t program, uint32_t outputSel, int32_t target,
                              int32_t achieved, int32_t m1, int32_t p1, int32_t m2, int32_t p2,
                              PLLDESCRIPTOR* d);
uint32_t bri90pllIsInvalidDividers(int32_t fin, int32_t m, int32_t p, const PLLVCOCONFIG* vco,
                                   const PLLDESCRIPTOR* d);
int32_t bri90pllUnlockStatus(void* handle, uint32_t reg, int32_t count, PLLVCOCONFIG* vco,
                             const PLLDESCRIPTOR* d);
uint32_t bri90pllHwOscOn(void* handle, PLLDESCRIPTOR* d);
uint32_t bri90pllGetDivider(void* handle, uint32_t vcoIndex, uint32_t divider,
                            PLLDESCRIPTOR* d);
uint32_t bri90pllGetVcoOutputDriver(void* handle, uint32_t vcoIndex, PLLDESCRIPTOR* d);
uint32_t bri90pllGetRegOffset(const PLLDESCRIPTOR* d);
// Sets up the later generation's clock test counter on register 0xE24:
// source 0..7; a divider above 19 switches the counter off.
uint32_t bri90pllInitTestCounter(void* handle, uint32_t divider, uint32_t source,
                                 PLLDESCRIPTOR* d);
