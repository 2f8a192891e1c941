// Radix-2 FFT and dB power spectrum over fixed 4097-slot arrays.
#pragma once

namespace vurma {

// Largest FFT size (4096) plus one: bins 0..N/2 and the work area 0..N.
inline constexpr int kSpectrumSlots = 4097;

// Transforms N = 2^p real samples (p = 9..12). Afterwards slot k of db
// (k = 0..N/2) holds 10*log10 of the power of bin k scaled by 2/N; slots
// above N/2 are left as they were. re and im are work arrays of
// kSpectrumSlots entries. The first call for a size builds its twiddle table
// once; after that no allocation. Safe to call from several threads at once.
void ComputeSpectrum(unsigned p, const double* input, double* db, double* re, double* im);

// Sets all kSpectrumSlots slots of db to 0.0.
void ClearSpectrum(double* db);

}  // namespace vurma
