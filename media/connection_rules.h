// The rules by which a graph connects and renders pins. Every engine (the
// GStreamer one and the test double) asks these, so that a connection one of
// them refuses the other refuses too, with the same result code.
// Toolkit-free; any thread.
#pragma once

#include <vector>

#include "engine.h"
#include "hresult.h"

namespace vurma::media {

// What a pin's filter is, as far as the rules care.
enum class FilterRole { Other, Grabber, AudioRenderer };

// What the rules need to know about one pin.
struct PinFacts {
    PinDirection dir = PinDirection::Input;
    bool connected = false;
    bool inGraph = false;  // its filter is in the graph asked
    bool audio = false;    // it offers an audio (wave) format
    FilterRole role = FilterRole::Other;
};

// True when one of the types is an audio (wave) format.
bool OffersAudio(const std::vector<MediaType>& types);

// Connect(out, in): only an audio output reaches the grabber's or an audio
// renderer's input; both pins in the graph and free. S_OK or the refusal.
HRESULT CheckConnect(const PinFacts& out, const PinFacts& in);

// Render(out): a free audio output in the graph gets a new audio renderer.
HRESULT CheckRender(const PinFacts& out);

// The types a connection hands on: the input takes the output's types, and
// so does the grabber's output pin (the grabber passes the format through).
struct ConnectedTypes {
    std::vector<MediaType> input;
    bool grabberOutput = false;  // also give them to the grabber's output pin
};
ConnectedTypes TypesAfterConnect(const std::vector<MediaType>& outTypes, FilterRole inRole);

}  // namespace vurma::media
