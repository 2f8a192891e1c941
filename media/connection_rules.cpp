#include "connection_rules.h"

#include <algorithm>

namespace vurma::media {

bool OffersAudio(const std::vector<MediaType>& types) {
    return std::any_of(types.begin(), types.end(),
                       [](const MediaType& t) { return t.formatType == FormatType::WaveFormatEx; });
}

HRESULT CheckConnect(const PinFacts& out, const PinFacts& in) {
    if (!out.inGraph || !in.inGraph) return E_NOT_FOUND;
    if (out.connected || in.connected) return E_ALREADY_CONNECTED;
    if (out.dir != PinDirection::Output || in.dir != PinDirection::Input) return E_CANNOT_CONNECT;
    if (!out.audio) return E_CANNOT_CONNECT;
    if (in.role != FilterRole::Grabber && in.role != FilterRole::AudioRenderer) {
        return E_CANNOT_CONNECT;
    }
    return S_OK;
}

HRESULT CheckRender(const PinFacts& out) {
    if (!out.inGraph) return E_NOT_FOUND;
    if (out.connected) return E_ALREADY_CONNECTED;
    if (out.dir != PinDirection::Output || !out.audio) return E_CANNOT_RENDER;
    return S_OK;
}

ConnectedTypes TypesAfterConnect(const std::vector<MediaType>& outTypes, FilterRole inRole) {
    return {outTypes, inRole == FilterRole::Grabber};
}

}  // namespace vurma::media
