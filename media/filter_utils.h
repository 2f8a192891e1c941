// Searches used to rewire a rendered graph: create a filter of a category by
// its friendly name, find a filter by name, a pin by name or by direction and
// index, and a pin's media type by format type. They work on the engine
// interface only. Names are UTF-8 and compared byte for byte, case-sensitive.
#pragma once

#include <memory>
#include <string>

#include "engine.h"

namespace vurma::media {

// S_OK when a category entry matched (even when the filter could then not be
// created: *out stays null), S_FALSE when none did (*out untouched). A name
// beginning with "*" matches the first usable entry.
HRESULT LoadFilter(IEngine& engine, ICreateDevEnum* devEnum, const CategoryId& category,
                   const std::string& name, std::shared_ptr<IBaseFilter>* out);

// LoadFilter, then adds *out to the graph under `name`; returns the result
// of adding it.
HRESULT AddFilter(IEngine& engine, IGraphBuilder* graph, ICreateDevEnum* devEnum,
                  const CategoryId& category, const std::string& name,
                  std::shared_ptr<IBaseFilter>* out);

// The first filter of the graph with this name, or null.
std::shared_ptr<IBaseFilter> FindFilter(IGraphBuilder* graph, const std::string& name);

// 0 and *out set when found; -1 and *out untouched when not.
HRESULT FindPin(IBaseFilter* filter, const std::string& name, std::shared_ptr<IPin>* out);
// The index-th (1-based) pin of that direction; index 0 never matches.
HRESULT FindPin(IBaseFilter* filter, PinDirection dir, int index, std::shared_ptr<IPin>* out);

// 0 and the first preferred media type of that format type, or -1.
HRESULT GetMediaType(IPin* pin, FormatType formatType, MediaType* out);

}  // namespace vurma::media
