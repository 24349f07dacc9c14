// Drives a staged wrapper module through its two exports, as the host does,
// with a host callback that records every request.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "host/wrapperprotocol.h"
#include "platform/platform.h"
#include "tests/support/appfolder.h"

struct HostRequest {
    intptr_t opcode, a1;
    std::string text;  // HC_SCAN_PROGRESS's text
    intptr_t a2 = 0;   // not compared
    bool operator==(const HostRequest& other) const { return opcode == other.opcode && a1 == other.a1; }
};

// What the recording host answers and what it saw.
struct RecordingHost {
    std::vector<HostRequest> requests;
    uint16_t version = kHostVersion;
    int scanReportsBeforeAbort = -1;  // -1: never abort

    static RecordingHost& current() {
        static RecordingHost host;
        return host;
    }
    static intptr_t WRAPPER_CALL answer(intptr_t opcode, intptr_t a1, intptr_t a2) {
        RecordingHost& h = current();
        HostRequest request{opcode, a1, "", a2};
        if (opcode == HC_SCAN_PROGRESS && a1) request.text = reinterpret_cast<const char*>(a1);
        h.requests.push_back(request);
        if (opcode == HC_GET_HOST_VERSION) *reinterpret_cast<uint16_t*>(a1) = h.version;
        if (opcode == HC_GET_HOST_NAME) *reinterpret_cast<const char**>(a1) = kHostName;
        if (opcode == HC_SCAN_PROGRESS && h.scanReportsBeforeAbort >= 0) {
            int reports = 0;
            for (const HostRequest& r : h.requests) reports += r.opcode == HC_SCAN_PROGRESS;
            return reports <= h.scanReportsBeforeAbort ? 1 : 0;
        }
        return 1;
    }
    std::vector<std::string> scanTexts() const {
        std::vector<std::string> texts;
        for (const HostRequest& r : requests)
            if (r.opcode == HC_SCAN_PROGRESS) texts.push_back(r.text);
        return texts;
    }
};

struct WrapperDriver {
    WrapperDispatcherFn dispatch = nullptr;
    WrapperProcessFn process = nullptr;

    // The staged wrapper, loaded once per test program.
    static WrapperDriver staged(const std::string& name) {
        WrapperDriver w;
        PlatformModule m = platformLoadModule(stagedModule("Wrappers", name).c_str());
        w.dispatch = reinterpret_cast<WrapperDispatcherFn>(platformFindSymbol(m, "wrapperDispatcher"));
        w.process = reinterpret_cast<WrapperProcessFn>(platformFindSymbol(m, "processPlugin"));
        return w;
    }

    intptr_t call(intptr_t opcode, intptr_t a1 = 0, intptr_t a2 = 0) const { return dispatch(opcode, a1, a2); }

    // Hands over the recording host and opens the wrapper on `appFolder`.
    intptr_t open(const std::string& appFolder) const {
        RecordingHost::current() = RecordingHost{};
        call(WD_SET_HOST_CALLBACK, reinterpret_cast<intptr_t>(RecordingHost::answer), 4);
        return call(WD_OPEN, reinterpret_cast<intptr_t>(appFolder.c_str()), 0);
    }

    int count(intptr_t opcode) const {
        int32_t n = -1;
        call(opcode, reinterpret_cast<intptr_t>(&n), 4);
        return n;
    }

    std::vector<std::string> available() const {
        std::vector<std::string> names;
        char buffer[kWrapperNameBuffer];
        for (int i = 0; call(WD_GET_AVAILABLE_NAME, reinterpret_cast<intptr_t>(buffer), i); ++i)
            names.push_back(buffer);
        return names;
    }

    int indexOf(const std::string& name) const {
        std::vector<std::string> names = available();
        auto it = std::find(names.begin(), names.end(), name);
        return it == names.end() ? -1 : static_cast<int>(it - names.begin());
    }

    intptr_t create(const std::string& name) const {
        intptr_t handle = 0;
        call(WD_CREATE_INSTANCE, reinterpret_cast<intptr_t>(&handle), indexOf(name));
        return handle;
    }

    std::string instanceName(intptr_t handle) const {
        char buffer[kWrapperNameBuffer] = "";
        return call(WD_GET_INSTANCE_NAME, handle, reinterpret_cast<intptr_t>(buffer)) ? buffer : "<none>";
    }

    std::vector<uint8_t> save() const {
        uint8_t* blob = nullptr;
        intptr_t size = call(WD_SAVE_STATE, reinterpret_cast<intptr_t>(&blob), 4);
        return std::vector<uint8_t>(blob, blob + size);
    }

    intptr_t load(const std::vector<uint8_t>& blob) const {
        return call(WD_LOAD_STATE, reinterpret_cast<intptr_t>(blob.data()), static_cast<intptr_t>(blob.size()));
    }

    // WD_ADD_STATE: the blob's instances after the present ones.
    intptr_t add(const std::vector<uint8_t>& blob) const {
        return call(WD_ADD_STATE, reinterpret_cast<intptr_t>(blob.data()), static_cast<intptr_t>(blob.size()));
    }

    int parameterCount(intptr_t handle) const {
        int32_t n = -1;
        return call(WD_GET_PARAMETER_COUNT, handle, reinterpret_cast<intptr_t>(&n)) ? n : -1;
    }
    // The record of parameter `index`; index -1 when the wrapper refused.
    WrapperParameter parameter(intptr_t handle, int index) const {
        WrapperParameter p{};
        p.index = index;
        if (!call(WD_GET_PARAMETER, handle, reinterpret_cast<intptr_t>(&p))) p.index = -1;
        return p;
    }
    bool setParameter(intptr_t handle, int index, double value) const {
        WrapperParameter p{};
        p.index = index;
        p.value = value;
        return call(WD_SET_PARAMETER, handle, reinterpret_cast<intptr_t>(&p)) == 1;
    }

    intptr_t setUserData(intptr_t handle, const std::string& data) const {
        WrapperUserData record{handle, reinterpret_cast<intptr_t>(data.data()), static_cast<intptr_t>(data.size())};
        return call(WD_SET_USER_DATA, reinterpret_cast<intptr_t>(&record), 12);
    }
    std::string userData(intptr_t handle) const {
        WrapperUserData record{handle, 0, 0};
        if (!call(WD_GET_USER_DATA, reinterpret_cast<intptr_t>(&record), 12)) return "<none>";
        return std::string(reinterpret_cast<const char*>(record.data), static_cast<size_t>(record.size));
    }
};
