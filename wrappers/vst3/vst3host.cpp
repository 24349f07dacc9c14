// The host objects handed to VST 3 plug-ins.
#include "wrappers/vst3/vst3host.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "host/wrapperprotocol.h"

namespace vst3 {

namespace {

// ---- messages between a plug-in's two halves ----

// An attribute list of a few named values; strings and binaries are copied.
class AttributeList final : public Counted<AttributeList, IAttributeList> {
public:
    tresult VST3_CALL queryInterface(const uint8_t* iid, void** object) override {
        static const Uid* const iids[] = {&kFUnknownIid, &kIAttributeListIid};
        return answer(iid, object, iids, 2);
    }
    tresult VST3_CALL setInt(AttrID id, int64_t value) override {
        Entry* e = slot(id, kInt);
        if (!e) return kOutOfMemory;
        e->integer = value;
        return kResultOk;
    }
    tresult VST3_CALL getInt(AttrID id, int64_t& value) override {
        const Entry* e = find(id, kInt);
        if (!e) return kResultFalse;
        value = e->integer;
        return kResultOk;
    }
    tresult VST3_CALL setFloat(AttrID id, double value) override {
        Entry* e = slot(id, kFloat);
        if (!e) return kOutOfMemory;
        e->number = value;
        return kResultOk;
    }
    tresult VST3_CALL getFloat(AttrID id, double& value) override {
        const Entry* e = find(id, kFloat);
        if (!e) return kResultFalse;
        value = e->number;
        return kResultOk;
    }
    tresult VST3_CALL setString(AttrID id, const char16* string) override {
        if (!string) return kInvalidArgument;
        size_t n = 0;
        while (n < kMaxBytes / 2 && string[n]) ++n;
        return setBytes(id, kString, string, (n + 1) * sizeof(char16), true);
    }
    tresult VST3_CALL getString(AttrID id, char16* string, uint32_t sizeInBytes) override {
        const Entry* e = find(id, kString);
        if (!e || !string || sizeInBytes < sizeof(char16)) return kResultFalse;
        const size_t room = sizeInBytes / sizeof(char16);
        const size_t n = e->size / sizeof(char16);
        const size_t copy = n < room ? n : room;
        std::memcpy(string, e->bytes, copy * sizeof(char16));
        string[copy - 1] = 0;
        return kResultOk;
    }
    tresult VST3_CALL setBinary(AttrID id, const void* data, uint32_t sizeInBytes) override {
        if (!data && sizeInBytes) return kInvalidArgument;
        return setBytes(id, kBinary, data, sizeInBytes, false);
    }
    tresult VST3_CALL getBinary(AttrID id, const void*& data, uint32_t& sizeInBytes) override {
        const Entry* e = find(id, kBinary);
        if (!e) return kResultFalse;
        data = e->bytes;
        sizeInBytes = static_cast<uint32_t>(e->size);
        return kResultOk;
    }

private:
    friend class Counted<AttributeList, IAttributeList>;
    enum Kind { kNone, kInt, kFloat, kString, kBinary };
    static constexpr int kEntries = 32;
    static constexpr size_t kIdSize = 64;
    static constexpr size_t kMaxBytes = 1u << 24;
    struct Entry {
        char id[kIdSize];
        Kind kind;
        int64_t integer;
        double number;
        uint8_t* bytes;
        size_t size;
    };
    ~AttributeList() {
        for (Entry& e : entries_) std::free(e.bytes);
    }
    Entry* find(AttrID id, Kind kind) {
        if (!id) return nullptr;
        for (Entry& e : entries_)
            if (e.kind == kind && std::strncmp(e.id, id, kIdSize - 1) == 0) return &e;
        return nullptr;
    }
    Entry* slot(AttrID id, Kind kind) {
        if (!id) return nullptr;
        for (Entry& e : entries_) {
            if (e.kind != kNone && std::strncmp(e.id, id, kIdSize - 1) == 0) {
                std::free(e.bytes);
                e.bytes = nullptr;
                e.size = 0;
                e.kind = kind;
                return &e;
            }
        }
        for (Entry& e : entries_) {
            if (e.kind == kNone) {
                std::strncpy(e.id, id, kIdSize - 1);
                e.id[kIdSize - 1] = '\0';
                e.kind = kind;
                return &e;
            }
        }
        return nullptr;
    }
    tresult setBytes(AttrID id, Kind kind, const void* data, size_t size, bool) {
        if (size > kMaxBytes) return kInvalidArgument;
        auto* copy = static_cast<uint8_t*>(std::malloc(size ? size : 1));
        if (!copy) return kOutOfMemory;
        if (size) std::memcpy(copy, data, size);
        Entry* e = slot(id, kind);
        if (!e) {
            std::free(copy);
            return kOutOfMemory;
        }
        e->bytes = copy;
        e->size = size;
        return kResultOk;
    }

    Entry entries_[kEntries]{};
};

class Message final : public Counted<Message, IMessage> {
public:
    tresult VST3_CALL queryInterface(const uint8_t* iid, void** object) override {
        static const Uid* const iids[] = {&kFUnknownIid, &kIMessageIid};
        return answer(iid, object, iids, 2);
    }
    FIDString VST3_CALL getMessageID() override { return id_; }
    void VST3_CALL setMessageID(FIDString id) override {
        std::strncpy(id_, id ? id : "", sizeof id_ - 1);
        id_[sizeof id_ - 1] = '\0';
    }
    IAttributeList* VST3_CALL getAttributes() override { return attributes_; }

    bool ready() const { return attributes_ != nullptr; }
    Message() : attributes_(new (std::nothrow) AttributeList) {}

private:
    friend class Counted<Message, IMessage>;
    ~Message() {
        if (attributes_) attributes_->release();
    }
    char id_[128] = "";
    AttributeList* attributes_;
};

}  // namespace

// ---- the host application ----

tresult VST3_CALL HostApplication::queryInterface(const uint8_t* iid, void** object) {
    static const Uid* const iids[] = {&kFUnknownIid, &kIHostApplicationIid};
    return answer(iid, object, iids, 2);
}

tresult VST3_CALL HostApplication::getName(char16* name) {
    if (!name) return kInvalidArgument;
    widenName(kHostName, name, 128);
    return kResultOk;
}

tresult VST3_CALL HostApplication::createInstance(uint8_t* cid, uint8_t* iid, void** object) {
    if (!object) return kInvalidArgument;
    *object = nullptr;
    if (sameUid(cid, kIMessageIid) && sameUid(iid, kIMessageIid)) {
        auto* message = new (std::nothrow) Message;
        if (!message) return kOutOfMemory;
        if (!message->ready()) {
            message->release();
            return kOutOfMemory;
        }
        *object = static_cast<IMessage*>(message);
        return kResultOk;
    }
    if (sameUid(cid, kIAttributeListIid) && sameUid(iid, kIAttributeListIid)) {
        auto* list = new (std::nothrow) AttributeList;
        if (!list) return kOutOfMemory;
        *object = static_cast<IAttributeList*>(list);
        return kResultOk;
    }
    return kNoInterface;
}

HostApplication* hostApplication() {
    static HostApplication host;
    return &host;
}

// ---- memory streams ----

MemoryStream* MemoryStream::create() { return new (std::nothrow) MemoryStream; }

MemoryStream* MemoryStream::reading(const uint8_t* data, size_t size) {
    MemoryStream* stream = create();
    if (!stream) return nullptr;
    if (size > kMaxStreamSize || !stream->reserve(size)) {
        stream->release();
        return nullptr;
    }
    if (size) std::memcpy(stream->data_, data, size);
    stream->size_ = size;
    return stream;
}

MemoryStream::~MemoryStream() { std::free(data_); }

tresult VST3_CALL MemoryStream::queryInterface(const uint8_t* iid, void** object) {
    static const Uid* const iids[] = {&kFUnknownIid, &kIBStreamIid};
    return answer(iid, object, iids, 2);
}

bool MemoryStream::reserve(size_t bytes) {
    if (bytes <= capacity_) return true;
    if (bytes > kMaxStreamSize) return false;
    size_t grown = capacity_ ? capacity_ * 2 : 4096;
    while (grown < bytes) grown *= 2;
    if (grown > kMaxStreamSize) grown = kMaxStreamSize;
    auto* larger = static_cast<uint8_t*>(std::realloc(data_, grown));
    if (!larger) return false;
    data_ = larger;
    capacity_ = grown;
    return true;
}

tresult VST3_CALL MemoryStream::read(void* buffer, int32_t bytes, int32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    if (bytes < 0 || (!buffer && bytes > 0)) return kInvalidArgument;
    const size_t left = position_ < size_ ? size_ - position_ : 0;
    const size_t n = static_cast<size_t>(bytes) < left ? static_cast<size_t>(bytes) : left;
    if (n) std::memcpy(buffer, data_ + position_, n);
    position_ += n;
    if (bytesRead) *bytesRead = static_cast<int32_t>(n);
    return kResultOk;
}

tresult VST3_CALL MemoryStream::write(void* buffer, int32_t bytes, int32_t* bytesWritten) {
    if (bytesWritten) *bytesWritten = 0;
    if (bytes < 0 || (!buffer && bytes > 0)) return kInvalidArgument;
    const size_t end = position_ + static_cast<size_t>(bytes);
    if (end > kMaxStreamSize || !reserve(end)) return kOutOfMemory;
    if (position_ > size_) std::memset(data_ + size_, 0, position_ - size_);
    if (bytes) std::memcpy(data_ + position_, buffer, static_cast<size_t>(bytes));
    position_ = end;
    if (end > size_) size_ = end;
    if (bytesWritten) *bytesWritten = bytes;
    return kResultOk;
}

tresult VST3_CALL MemoryStream::seek(int64_t position, int32_t mode, int64_t* result) {
    int64_t base = 0;
    if (mode == kSeekCur)
        base = static_cast<int64_t>(position_);
    else if (mode == kSeekEnd)
        base = static_cast<int64_t>(size_);
    else if (mode != kSeekSet)
        return kInvalidArgument;
    const int64_t target = base + position;
    if (target < 0 || target > static_cast<int64_t>(kMaxStreamSize)) return kInvalidArgument;
    position_ = static_cast<size_t>(target);
    if (result) *result = target;
    return kResultOk;
}

tresult VST3_CALL MemoryStream::tell(int64_t* position) {
    if (!position) return kInvalidArgument;
    *position = static_cast<int64_t>(position_);
    return kResultOk;
}

// ---- parameter values between the threads ----

// ---- the change lists of a process call ----

tresult VST3_CALL ParamQueue::queryInterface(const uint8_t* iid, void** object) {
    static const Uid* const iids[] = {&kFUnknownIid, &kIParamValueQueueIid};
    return answer(iid, object, iids, 2);
}

tresult VST3_CALL ParamQueue::getPoint(int32_t index, int32_t& sampleOffset, ParamValue& value) {
    if (index < 0 || index >= count_) return kInvalidArgument;
    sampleOffset = offsets_[index];
    value = values_[index];
    return kResultOk;
}

tresult VST3_CALL ParamQueue::addPoint(int32_t sampleOffset, ParamValue value, int32_t& index) {
    // Points stay in time order; a point at the same offset replaces the last.
    if (count_ > 0 && offsets_[count_ - 1] >= sampleOffset) {
        offsets_[count_ - 1] = sampleOffset;
        values_[count_ - 1] = value;
        index = count_ - 1;
        return kResultOk;
    }
    if (count_ >= kPoints) {
        values_[kPoints - 1] = value;
        index = kPoints - 1;
        return kResultOk;
    }
    offsets_[count_] = sampleOffset;
    values_[count_] = value;
    index = count_++;
    return kResultOk;
}

tresult VST3_CALL ParamChanges::queryInterface(const uint8_t* iid, void** object) {
    static const Uid* const iids[] = {&kFUnknownIid, &kIParameterChangesIid};
    return answer(iid, object, iids, 2);
}

IParamValueQueue* VST3_CALL ParamChanges::getParameterData(int32_t index) {
    return index >= 0 && index < count_ ? &queues_[index] : nullptr;
}

IParamValueQueue* VST3_CALL ParamChanges::addParameterData(const ParamID& id, int32_t& index) {
    for (int32_t q = 0; q < count_; ++q) {
        if (queues_[q].getParameterId() == id) {
            index = q;
            return &queues_[q];
        }
    }
    if (count_ >= kQueues) return nullptr;
    queues_[count_].reset(id);
    index = count_;
    return &queues_[count_++];
}

ParamQueue* ParamChanges::queueFor(ParamID id) {
    int32_t index = 0;
    return static_cast<ParamQueue*>(addParameterData(id, index));
}

// ---- names ----

void narrowName(const char16* text, size_t textLength, char* out, size_t size) {
    if (!out || size == 0) return;
    size_t n = 0;
    for (size_t i = 0; text && i < textLength && text[i] && n + 1 < size; ++i)
        out[n++] = text[i] < 0x100 ? static_cast<char>(text[i]) : '?';
    out[n] = '\0';
}

void widenName(const char* text, char16* out, size_t size) {
    if (!out || size == 0) return;
    size_t n = 0;
    for (; text && text[n] && n + 1 < size; ++n) out[n] = static_cast<unsigned char>(text[n]);
    out[n] = 0;
}

}  // namespace vst3
