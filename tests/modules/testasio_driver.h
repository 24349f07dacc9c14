// The test driver object: the ASIO method table over TestAsioCore, with
// reference counting. The native tests create it directly; the Windows COM
// server hands it out through its class factory.
#pragma once

#include <atomic>

#include "tests/modules/testasio_core.h"

class TestAsioDriver : public AsioDriver {
public:
    TestAsioCore core;
    std::atomic<long> references{1};

#if defined(_WIN32)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        // Drivers answer their own class id as the interface; any request is fine here.
        AddRef();
        *object = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --references;
        if (left == 0) released();
        return static_cast<ULONG>(left);
    }
#else
    long QueryInterface(const AsioGuid&, void** object) override {
        AddRef();
        *object = this;
        return 0;
    }
    unsigned long AddRef() override { return static_cast<unsigned long>(++references); }
    unsigned long Release() override {
        const long left = --references;
        if (left == 0) released();
        return static_cast<unsigned long>(left);
    }
#endif
    // What happens when the last reference goes (the COM server deletes).
    virtual void released() {}

    AsioBool init(void* handle) override { return core.init(handle); }
    void getDriverName(char* name) override { core.getDriverName(name); }
    int32_t getDriverVersion() override { return core.getDriverVersion(); }
    void getErrorMessage(char* text) override { core.getErrorMessage(text); }
    AsioError start() override { return core.start(); }
    AsioError stop() override { return core.stop(); }
    AsioError getChannels(int32_t* inputs, int32_t* outputs) override { return core.getChannels(inputs, outputs); }
    AsioError getLatencies(int32_t* input, int32_t* output) override { return core.getLatencies(input, output); }
    AsioError getBufferSize(int32_t* minimum, int32_t* maximum, int32_t* preferred, int32_t* granularity) override {
        return core.getBufferSize(minimum, maximum, preferred, granularity);
    }
    AsioError canSampleRate(AsioSampleRate rate) override { return core.canSampleRate(rate); }
    AsioError getSampleRate(AsioSampleRate* rate) override { return core.getSampleRate(rate); }
    AsioError setSampleRate(AsioSampleRate rate) override { return core.setSampleRate(rate); }
    AsioError getClockSources(AsioClockSource* clocks, int32_t* count) override {
        return core.getClockSources(clocks, count);
    }
    AsioError setClockSource(int32_t reference) override { return core.setClockSource(reference); }
    AsioError getSamplePosition(AsioSamples* position, AsioTimeStamp* time) override {
        return core.getSamplePosition(position, time);
    }
    AsioError getChannelInfo(AsioChannelInfo* info) override { return core.getChannelInfo(info); }
    AsioError createBuffers(AsioBufferInfo* infos, int32_t count, int32_t size, AsioCallbacks* callbacks) override {
        return core.createBuffers(infos, count, size, callbacks);
    }
    AsioError disposeBuffers() override { return core.disposeBuffers(); }
    AsioError controlPanel() override { return core.controlPanel(); }
    AsioError future(int32_t selector, void* argument) override { return core.future(selector, argument); }
    AsioError outputReady() override { return core.outputReady(); }
};
