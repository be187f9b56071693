// Functions of the hardware library whose code is not written yet, each
// with the parameters its caller or its dispatch-table slot needs. They are
// declared here so that the tables and the chip layer can name them; test
// executables and benchmarks link the recording stand-ins of tests/standins/
// in their place, and a shipped module cannot link until each is written.
//
// When one is written, its line goes from this list and its declaration
// moves to the header of the file that defines it (the slot's static_assert
// in dispatch.cpp checks that the signature still fits).
//
// X(name, (parameter list)); the board handle is always `h`.
#pragma once

#include <stdint.h>

#include "hwsharing/chip/haltypes.h"

// ---- Device jump table ------------------------------------------------------
#define ORV_PENDING_JUMP_TABLE(X)

// ---- MISCFunctions ----------------------------------------------------------
#define ORV_PENDING_MISC_TABLE(X)

// ---- MDACFunctions ----------------------------------------------------------
#define ORV_PENDING_MDAC_TABLE(X)

// ---- CRTCFunctions ----------------------------------------------------------
#define ORV_PENDING_CRTC_TABLE(X)

// ---- Chip layer called by the library's facade -----------------------------------
#define ORV_PENDING_FACADE(X)

// ---- Calls of the chip layer into later parts ------------------------------------
// X(name, (parameter list), (argument names)). Their stand-ins also log the
// integer arguments and fill the out-parameters (tests/standins).
#define ORV_PENDING_CALLS(X)

#define ORV_PENDING_HWLIB_FUNCTIONS(X) \
  ORV_PENDING_JUMP_TABLE(X) \
  ORV_PENDING_MISC_TABLE(X) \
  ORV_PENDING_MDAC_TABLE(X) \
  ORV_PENDING_CRTC_TABLE(X) \
  ORV_PENDING_FACADE(X)

#define ORV_DECLARE_PENDING(name, params) HALSTATUS name params;
ORV_PENDING_HWLIB_FUNCTIONS(ORV_DECLARE_PENDING)
#undef ORV_DECLARE_PENDING
#define ORV_DECLARE_PENDING_CALL(name, params, args) HALSTATUS name params;
ORV_PENDING_CALLS(ORV_DECLARE_PENDING_CALL)
#undef ORV_DECLARE_PENDING_CALL
