// What both wrappers do alike with their instance lists: records linked in
// creation order (`next`), each with its bypass flag (`bypassed`) and the
// host's user data (`userData`, `userSize`). A handle is a record's address
// and is looked up in the list before it is used.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "host/wrapperprotocol.h"

template <typename Instance>
Instance* findInstance(Instance* head, intptr_t handle) {
    if (!handle) return nullptr;
    for (Instance* i = head; i; i = i->next)
        if (reinterpret_cast<intptr_t>(i) == handle) return i;
    return nullptr;
}

// Links a record at the end of the list.
template <typename Instance>
void appendInstance(Instance*& head, Instance* instance) {
    Instance** tail = &head;
    while (*tail) tail = &(*tail)->next;
    *tail = instance;
}

// Takes a record out of the list (nothing when it is not in it).
template <typename Instance>
void unlinkInstance(Instance*& head, Instance* instance) {
    for (Instance** link = &head; *link; link = &(*link)->next) {
        if (*link == instance) {
            *link = instance->next;
            return;
        }
    }
}

template <typename Instance>
int32_t countInstances(const Instance* head) {
    int32_t n = 0;
    for (const Instance* i = head; i; i = i->next) ++n;
    return n;
}

// WD_ADD_STATE over a wrapper's appending load: `load()` appends a blob's
// instances after the present ones and answers 0 for a malformed blob; the
// instances it created from that blob are then destroyed again
// (`unlinkAndFree`, without telling the host, which never saw them), so the
// list is exactly what it was and the host never gets half a song. UI thread.
template <typename Instance, typename Load, typename Free>
intptr_t addStateAppending(Instance*& head, Load load, Free unlinkAndFree) {
    Instance* last = head;
    while (last && last->next) last = last->next;
    if (load()) return 1;
    while (Instance* created = last ? last->next : head) unlinkAndFree(created);
    return 0;
}

// Replaces the user data with a copy of `size` bytes (none for null or a
// size of 0 or less). False when memory runs out.
template <typename Instance>
bool storeUserData(Instance& instance, const uint8_t* data, intptr_t size) {
    std::free(instance.userData);
    instance.userData = nullptr;
    instance.userSize = 0;
    if (!data || size <= 0) return true;
    if (static_cast<uint64_t>(size) > 0xFFFFFFFFu) return false;
    instance.userData = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
    if (!instance.userData) return false;
    std::memcpy(instance.userData, data, static_cast<size_t>(size));
    instance.userSize = static_cast<uint32_t>(size);
    return true;
}

// Answers the commands that only read the list or move user data
// (WD_GET_INSTANCE_COUNT, WD_GET_INSTANCE_ACTIVE, WD_GET_INSTANCE,
// WD_IS_INSTANCE, WD_GET_USER_DATA, WD_SET_USER_DATA). False for any other.
template <typename Instance>
bool answerListCommand(Instance* head, intptr_t opcode, intptr_t a1, intptr_t a2, intptr_t& result) {
    Instance* instance = nullptr;
    auto* record = reinterpret_cast<WrapperUserData*>(a1);
    switch (opcode) {
        case WD_GET_INSTANCE_COUNT:
            if (a1) *reinterpret_cast<int32_t*>(a1) = countInstances(head);
            result = a1 ? 1 : 0;
            return true;
        case WD_GET_INSTANCE_ACTIVE:
            instance = findInstance(head, a1);
            result = !instance ? 0 : (instance->bypassed.load(std::memory_order_relaxed) ? 1 : 2);
            return true;
        case WD_GET_INSTANCE:
            instance = a2 >= 0 ? head : nullptr;
            for (intptr_t i = 0; instance && i < a2; ++i) instance = instance->next;
            if (a1 && instance) *reinterpret_cast<intptr_t*>(a1) = reinterpret_cast<intptr_t>(instance);
            result = a1 && instance ? 1 : 0;
            return true;
        case WD_IS_INSTANCE:
            result = findInstance(head, a1) ? 1 : 0;
            return true;
        case WD_GET_USER_DATA:
            instance = record ? findInstance(head, record->handle) : nullptr;
            if (instance) {
                record->data = reinterpret_cast<intptr_t>(instance->userData);
                record->size = instance->userSize;
            }
            result = instance ? 1 : 0;
            return true;
        case WD_SET_USER_DATA:
            instance = record ? findInstance(head, record->handle) : nullptr;
            result = instance && storeUserData(*instance, reinterpret_cast<const uint8_t*>(record->data), record->size);
            return true;
        default:
            return false;
    }
}
