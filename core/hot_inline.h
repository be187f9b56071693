// Inlining forced where the optimiser runs. A hot path that inlines a
// large switch into many callers, each with a constant argument, lets the
// optimiser reduce every copy to the stores of its case; an unoptimised
// build (the sanitizer and fuzz trees) cannot fold the copies, so there
// the function stays an ordinary inline one with a single body.
#pragma once

#if defined(__OPTIMIZE__)
#define ORV_HOT_INLINE [[gnu::always_inline]] inline
#else
#define ORV_HOT_INLINE inline
#endif
