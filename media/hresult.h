// HRESULT-style result codes used across the media layer.
#pragma once

#include <cstdint>

namespace vurma::media {

using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);

inline constexpr bool Failed(HRESULT hr) { return hr < 0; }
inline constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }

// Graph event code for the end of the media.
inline constexpr long EC_COMPLETE = 1;

}  // namespace vurma::media
