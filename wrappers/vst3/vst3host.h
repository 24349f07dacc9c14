// The host's side of the VST 3 interface: the objects a plug-in is handed
// (the host application, a component handler per instance, memory streams,
// messages and attribute lists) and the parameter change lists of the
// process call, with the lock-free rings that carry parameter values
// between the UI thread and the audio thread.
//
// Threads: the streams, messages and handlers belong to the UI thread. The
// rings have one writer thread and one reader thread each. The change
// lists are filled and read on the audio thread only and never allocate.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "wrappers/common/spscring.h"
#include "wrappers/vst3/vst3abi.h"

namespace vst3 {

// queryInterface for an object with one interface (and its bases):
// `self` answers for each id of `iids`, counted once more.
template <class Interface>
tresult answerFor(Interface* self, const uint8_t* iid, void** object, const Uid* const* iids, int count) {
    if (!object) return kInvalidArgument;
    for (int i = 0; i < count; ++i) {
        if (sameUid(iid, *iids[i])) {
            *object = self;
            self->addRef();
            return kResultOk;
        }
    }
    *object = nullptr;
    return kNoInterface;
}

// Reference counting for objects with one interface that live as long as
// their owner: counted, but never deleted through a release.
template <class Interface>
class Owned : public Interface {
public:
    uint32_t VST3_CALL addRef() override { return ++references_; }
    uint32_t VST3_CALL release() override { return references_ > 1 ? --references_ : 1; }

protected:
    tresult answer(const uint8_t* iid, void** object, const Uid* const* iids, int count) {
        return answerFor<Interface>(this, iid, object, iids, count);
    }

private:
    std::atomic<uint32_t> references_{1};
};

// Reference counting for objects made on the heap and handed over: the
// last release deletes the `Derived` object. Created with a count of 1.
template <class Derived, class Interface>
class Counted : public Interface {
public:
    uint32_t VST3_CALL addRef() override { return ++references_; }
    uint32_t VST3_CALL release() override {
        const uint32_t left = --references_;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

protected:
    tresult answer(const uint8_t* iid, void** object, const Uid* const* iids, int count) {
        return answerFor<Interface>(this, iid, object, iids, count);
    }

private:
    std::atomic<uint32_t> references_{1};
};

// The host application every plug-in object is initialised with: the
// program's name, and the messages and attribute lists plug-ins create to
// talk between their two halves.
class HostApplication final : public Owned<IHostApplication> {
public:
    tresult VST3_CALL queryInterface(const uint8_t* iid, void** object) override;
    tresult VST3_CALL getName(char16* name) override;
    tresult VST3_CALL createInstance(uint8_t* cid, uint8_t* iid, void** object) override;
};
HostApplication* hostApplication();

// A stream over memory: read from a copy of given bytes, or written into a
// growing buffer (UI thread only). Created with a count of 1; the creator
// releases it.
class MemoryStream final : public Counted<MemoryStream, IBStream> {
public:
    static MemoryStream* create();
    static MemoryStream* reading(const uint8_t* data, size_t size);
    tresult VST3_CALL queryInterface(const uint8_t* iid, void** object) override;
    tresult VST3_CALL read(void* buffer, int32_t bytes, int32_t* bytesRead) override;
    tresult VST3_CALL write(void* buffer, int32_t bytes, int32_t* bytesWritten) override;
    tresult VST3_CALL seek(int64_t position, int32_t mode, int64_t* result) override;
    tresult VST3_CALL tell(int64_t* position) override;

    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    void rewind() { position_ = 0; }

private:
    friend class Counted<MemoryStream, IBStream>;
    MemoryStream() = default;
    ~MemoryStream();
    bool reserve(size_t bytes);

    std::atomic<uint32_t> references_{1};
    uint8_t* data_ = nullptr;
    size_t size_ = 0, capacity_ = 0, position_ = 0;
};

// The most a stream grows to: a plug-in's state larger than this is taken
// as damage.
constexpr size_t kMaxStreamSize = 64u << 20;

// One value for one parameter, as it crosses between the threads.
struct ParamPoint {
    ParamID id;
    ParamValue value;
};

// Parameter values between the UI thread and the audio thread.
class ParamRing : public SpscRing<ParamPoint, 256> {
public:
    bool push(ParamID id, ParamValue value) { return SpscRing::push(ParamPoint{id, value}); }
    using SpscRing::pop;
};

// The parameter changes of one process call: up to kQueues parameters with
// up to kPoints points each, in storage of their own.
class ParamQueue final : public Owned<IParamValueQueue> {
public:
    static constexpr int32_t kPoints = 16;
    tresult VST3_CALL queryInterface(const uint8_t* iid, void** object) override;
    ParamID VST3_CALL getParameterId() override { return id_; }
    int32_t VST3_CALL getPointCount() override { return count_; }
    tresult VST3_CALL getPoint(int32_t index, int32_t& sampleOffset, ParamValue& value) override;
    tresult VST3_CALL addPoint(int32_t sampleOffset, ParamValue value, int32_t& index) override;

    void reset(ParamID id) {
        id_ = id;
        count_ = 0;
    }

private:
    ParamID id_ = 0;
    int32_t count_ = 0;
    int32_t offsets_[kPoints]{};
    ParamValue values_[kPoints]{};
};

class ParamChanges final : public Owned<IParameterChanges> {
public:
    static constexpr int32_t kQueues = 64;
    tresult VST3_CALL queryInterface(const uint8_t* iid, void** object) override;
    int32_t VST3_CALL getParameterCount() override { return count_; }
    IParamValueQueue* VST3_CALL getParameterData(int32_t index) override;
    IParamValueQueue* VST3_CALL addParameterData(const ParamID& id, int32_t& index) override;

    void clear() { count_ = 0; }
    // The queue of `id`, added when missing; null when the list is full.
    ParamQueue* queueFor(ParamID id);
    // Each parameter's last value, in the order they were added.
    template <class Visit>
    void lastValues(Visit visit) {
        for (int32_t q = 0; q < count_; ++q) {
            const int32_t n = queues_[q].getPointCount();
            int32_t offset = 0;
            ParamValue value = 0.0;
            if (n > 0 && queues_[q].getPoint(n - 1, offset, value) == kResultOk) visit(queues_[q].getParameterId(), value);
        }
    }

private:
    int32_t count_ = 0;
    ParamQueue queues_[kQueues];
};

// Names: UTF-16 from a plug-in to an 8-bit string (characters past 0xFF
// become '?'), at most `size` - 1 characters, always terminated.
void narrowName(const char16* text, size_t textLength, char* out, size_t size);
void widenName(const char* text, char16* out, size_t size);

}  // namespace vst3
