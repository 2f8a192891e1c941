// The scripted engine with a probe on the graph's Stop: a test learns what
// the window still holds at the moment it stops the graph.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "media/engine.h"
#include "media/fake_engine.h"

namespace vurma::reliability {

class ProbeEngine;

// Forwards every call to a fake graph; Stop first runs the probe.
class ProbeGraph final : public media::IGraphBuilder,
                         public media::IMediaControl,
                         public std::enable_shared_from_this<ProbeGraph> {
  public:
    ProbeGraph(std::shared_ptr<media::IGraphBuilder> inner, std::function<void()>* onStop)
        : inner_(std::move(inner)), onStop_(onStop) {
        inner_->QueryMediaControl(&control_);
    }

    media::HRESULT QueryMediaControl(std::shared_ptr<media::IMediaControl>* out) override {
        if (out == nullptr) return media::E_POINTER;
        *out = std::shared_ptr<media::IMediaControl>(shared_from_this(),
                                                     static_cast<media::IMediaControl*>(this));
        return media::S_OK;
    }
    media::HRESULT QueryMediaSeeking(std::shared_ptr<media::IMediaSeeking>* out) override {
        return inner_->QueryMediaSeeking(out);
    }
    media::HRESULT QueryBasicVideo(std::shared_ptr<media::IBasicVideo>* out) override {
        return inner_->QueryBasicVideo(out);
    }
    media::HRESULT QueryVideoWindow(std::shared_ptr<media::IVideoWindow>* out) override {
        return inner_->QueryVideoWindow(out);
    }
    media::HRESULT QueryMediaEvent(std::shared_ptr<media::IMediaEventEx>* out) override {
        return inner_->QueryMediaEvent(out);
    }
    media::HRESULT QueryBasicAudio(std::shared_ptr<media::IBasicAudio>* out) override {
        return inner_->QueryBasicAudio(out);
    }
    media::HRESULT QueryVideoOutput(std::shared_ptr<media::IVideoOutput>* out) override {
        return inner_->QueryVideoOutput(out);
    }
    media::HRESULT RenderFile(const std::string& utf8Path) override {
        return inner_->RenderFile(utf8Path);
    }
    media::HRESULT EnumFilters(std::shared_ptr<media::IEnumFilters>* filters) override {
        return inner_->EnumFilters(filters);
    }
    media::HRESULT AddFilter(const std::shared_ptr<media::IBaseFilter>& filter,
                             const std::string& name) override {
        return inner_->AddFilter(filter, name);
    }
    media::HRESULT RemoveFilter(const std::shared_ptr<media::IBaseFilter>& filter) override {
        return inner_->RemoveFilter(filter);
    }
    media::HRESULT Disconnect(const std::shared_ptr<media::IPin>& pin) override {
        return inner_->Disconnect(pin);
    }
    media::HRESULT Connect(const std::shared_ptr<media::IPin>& out,
                           const std::shared_ptr<media::IPin>& in) override {
        return inner_->Connect(out, in);
    }
    media::HRESULT Render(const std::shared_ptr<media::IPin>& out) override {
        return inner_->Render(out);
    }
    void SetUnsynchronised(bool on) override { inner_->SetUnsynchronised(on); }

    media::HRESULT Run() override { return control_->Run(); }
    media::HRESULT Pause() override { return control_->Pause(); }
    media::HRESULT Stop() override {
        if (*onStop_) (*onStop_)();
        return control_->Stop();
    }
    media::HRESULT GetState(long timeoutMs, media::FilterState* state) override {
        return control_->GetState(timeoutMs, state);
    }
    media::HRESULT StopWhenReady() override { return control_->StopWhenReady(); }

  private:
    std::shared_ptr<media::IGraphBuilder> inner_;
    std::shared_ptr<media::IMediaControl> control_;
    std::function<void()>* onStop_;
};

class ProbeEngine final : public media::IEngine {
  public:
    explicit ProbeEngine(std::shared_ptr<media::FakeEngine> fake) : fake_(std::move(fake)) {}

    // Runs inside every graph's Stop, before the fake graph stops.
    std::function<void()> onStop;

    media::HRESULT CreateGraphBuilder(std::shared_ptr<media::IGraphBuilder>* out) override {
        std::shared_ptr<media::IGraphBuilder> inner;
        const media::HRESULT hr = fake_->CreateGraphBuilder(&inner);
        if (media::Failed(hr) || inner == nullptr) return hr;
        *out = std::make_shared<ProbeGraph>(inner, &onStop);
        return hr;
    }
    media::HRESULT CreateCaptureGraphBuilder(
        std::shared_ptr<media::ICaptureGraphBuilder2>* out) override {
        return fake_->CreateCaptureGraphBuilder(out);
    }
    media::HRESULT CreateDevEnum(std::shared_ptr<media::ICreateDevEnum>* out) override {
        return fake_->CreateDevEnum(out);
    }
    media::HRESULT GetRunningObjectTable(
        std::shared_ptr<media::IRunningObjectTable>* out) override {
        return fake_->GetRunningObjectTable(out);
    }
    media::HRESULT ClsidFromString(const std::string& text, media::Clsid* clsid) override {
        return fake_->ClsidFromString(text, clsid);
    }
    media::HRESULT CreateFilter(const media::Clsid& clsid,
                                std::shared_ptr<media::IBaseFilter>* out) override {
        return fake_->CreateFilter(clsid, out);
    }
    media::HRESULT CreateAudioDecode(std::shared_ptr<media::IAudioDecode>* out) override {
        return fake_->CreateAudioDecode(out);
    }

  private:
    std::shared_ptr<media::FakeEngine> fake_;
};

}  // namespace vurma::reliability
