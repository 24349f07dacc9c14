// What the VST 3 and CLAP wrappers keep alike: the audio thread's scratch
// buffers, the list of effects a scan found, the rule for module paths
// from a state blob, and the commands that only name things or flip a
// bypass. Instances and list entries name their effect as `effect.name`.
#pragma once

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/wrapperprotocol.h"
#include "wrappers/common/instancelist.h"

// The audio thread's buffers: an output pair and a mono mix, allocated
// only while the engine is being configured, never while it runs.
struct WrapperScratch {
    float* left = nullptr;
    float* right = nullptr;
    float* mono = nullptr;
    int32_t frames = 0;

    // Frames of 0 or less free them; false when memory runs out (none kept).
    bool allocate(int32_t count) {
        std::free(left);
        std::free(right);
        std::free(mono);
        left = right = mono = nullptr;
        frames = 0;
        if (count <= 0) return true;
        const size_t bytes = static_cast<size_t>(count) * sizeof(float);
        left = static_cast<float*>(std::calloc(1, bytes));
        right = static_cast<float*>(std::calloc(1, bytes));
        mono = static_cast<float*>(std::calloc(1, bytes));
        if (!left || !right || !mono) return allocate(0) && false;
        frames = count;
        return true;
    }
};

template <typename Available>
Available* availableAt(Available* head, intptr_t index) {
    if (index < 0) return nullptr;
    Available* entry = head;
    for (intptr_t i = 0; entry && i < index; ++i) entry = entry->next;
    return entry;
}

template <typename Available>
void freeAvailable(Available*& head) {
    while (head) {
        Available* next = head->next;
        delete head;
        head = next;
    }
}

// A module path from a state blob is loaded only from a local disk by its
// full path (on Windows a drive letter, never a share or a relative path),
// and only when it names a module of the wrapper's kind.
inline bool isLocalModulePath(const char* path, const char* extension) {
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
#if defined(_WIN32)
    if (!std::isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':' || !separator(path[2])) return false;
    if (std::strchr(path + 2, ':')) return false;
#else
    (void)separator;
    if (path[0] != '/') return false;
#endif
    const size_t n = std::strlen(path), e = std::strlen(extension);
    return n > e && std::strcmp(path + n - e, extension) == 0;
}

// Answers WD_GET_NAME, WD_GET_AVAILABLE_COUNT, WD_GET_AVAILABLE_NAME,
// WD_GET_INSTANCE_NAME and WD_SET_INSTANCE_ACTIVE. False for any other.
template <typename Instance, typename Available>
bool answerNamingCommand(Instance* instances, Available* available, const char* wrapperName, intptr_t opcode,
                         intptr_t a1, intptr_t a2, intptr_t& result) {
    Instance* instance = nullptr;
    result = 0;
    switch (opcode) {
        case WD_GET_NAME:
            if (!a1) return true;
            std::snprintf(reinterpret_cast<char*>(a1), a2 > 0 ? static_cast<size_t>(a2) : kWrapperNameBuffer, "%s",
                          wrapperName);
            result = 1;
            return true;
        case WD_GET_AVAILABLE_COUNT: {
            if (!a1) return true;
            int32_t n = 0;
            for (Available* e = available; e; e = e->next) ++n;
            *reinterpret_cast<int32_t*>(a1) = n;
            result = 1;
            return true;
        }
        case WD_GET_AVAILABLE_NAME: {
            Available* entry = availableAt(available, a2);
            if (!entry || !a1) return true;
            const char* suffix = "";
            if constexpr (requires { entry->bits32; }) suffix = entry->bits32 ? kSuffix32Bit : "";
            std::snprintf(reinterpret_cast<char*>(a1), kWrapperNameBuffer, "%s%s", entry->effect.name, suffix);
            result = 1;
            return true;
        }
        case WD_GET_INSTANCE_NAME:
            instance = findInstance(instances, a1);
            if (!instance || !a2) return true;
            std::snprintf(reinterpret_cast<char*>(a2), kWrapperNameBuffer, "%s", instance->effect.name);
            result = 1;
            return true;
        case WD_SET_INSTANCE_ACTIVE:
            instance = findInstance(instances, a1);
            if (!instance) return true;
            instance->bypassed.store(a2 == 0 ? 1 : 0, std::memory_order_relaxed);
            result = 1;
            return true;
        default:
            return false;
    }
}
