// Run-time choice of the AVX2 loops of the conversion and the spectrum.
// The default build targets plain x86-64; both paths give the same results.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__)
#define VURMA_HAVE_AVX2_PATH 1
#endif

namespace vurma {

// True when the processor has AVX2 and its use is allowed.
bool UseAvx2();

// Allows or forbids the AVX2 loops (allowed by default) and returns the
// previous setting. Lets tests cover the scalar loops too.
bool AllowAvx2(bool allow);

}  // namespace vurma
