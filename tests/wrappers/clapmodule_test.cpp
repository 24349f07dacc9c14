// The CLAP test module (tests/modules/test_clap.cpp) loaded as a file and
// driven through our own interface declarations with a small host of the
// test's own, so the wrapper's tests can rely on what it does: its factory,
// processing to the sample, parameter events both ways, latency, state,
// threads, and the hostile variants.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/support/modules.h"
#include "wrappers/clap/clapabi.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

enum { kInits, kExits, kLive, kPluginInits, kDestroys, kActivations, kDeactivations, kStarts, kStops, kProcesses,
       kMaxFrames, kRate, kRestarts, kTicks, kViolations, kFlushes, kCountSize };

std::string clapFile(const std::string& folder = "clap", const std::string& name = "QvTestGain") {
    fs::path build = fs::path(stagePath("")).parent_path().parent_path();
    return (build / "testmodules" / folder / (name + ".clap")).string();
}

const clap::PluginEntry* entryOf(PlatformModule m) {
    return static_cast<const clap::PluginEntry*>(platformFindSymbol(m, clap::kEntrySymbol));
}

// The module, loaded and entered once per test program, never unloaded.
struct Module {
    PlatformModule library = nullptr;
    const clap::PluginEntry* entry = nullptr;
    bool factoryBeforeInit = true;
    const clap::PluginFactory* factory = nullptr;

    template <class T>
    T* fn(const char* name) const {
        return reinterpret_cast<T*>(platformFindSymbol(library, name));
    }
    int32_t count(int which) const {
        int32_t c[kCountSize];
        fn<void(int32_t*)>("tclapCounts")(c);
        return c[which];
    }
};

const Module& module() {
    static Module m = [] {
        Module m;
        m.library = platformLoadModule(clapFile().c_str());
        m.entry = m.library ? entryOf(m.library) : nullptr;
        if (!m.entry) return m;
        m.factoryBeforeInit = m.entry->get_factory(clap::kPluginFactoryId) != nullptr;
        if (m.entry->init(clapFile().c_str()))
            m.factory = static_cast<const clap::PluginFactory*>(m.entry->get_factory(clap::kPluginFactoryId));
        return m;
    }();
    return m;
}

void setSwitches(const char* value) {
#if defined(_WIN32)
    _putenv_s("QV_TCLAP", value ? value : "");
#else
    if (value)
        setenv("QV_TCLAP", value, 1);
    else
        unsetenv("QV_TCLAP");
#endif
}

// ---- the host's side; everything off the test's thread is its audio thread ----

struct TestHost {
    clap::Host host{clap::kHostVersion, this, "test", "test", "", "1", extension,
                    [](const clap::Host* h) { self(h)->restarts++; }, [](const clap::Host*) {},
                    [](const clap::Host*) {}};
    std::thread::id mainThread = std::this_thread::get_id();
    std::atomic<int> restarts{0}, latencyChanges{0}, flushRequests{0}, rescans{0}, rescansOffMain{0}, timers{0};
    std::string log;

    static TestHost* self(const clap::Host* h) { return static_cast<TestHost*>(h->host_data); }
    static bool onMain(const clap::Host* h) { return std::this_thread::get_id() == self(h)->mainThread; }

    static const void* CLAP_CALL extension(const clap::Host*, const char* id) {
        static const clap::HostParams params = {
            [](const clap::Host* h, uint32_t) {
                self(h)->rescans++;
                self(h)->rescansOffMain += !onMain(h);
            },
            [](const clap::Host*, clap::Id, uint32_t) {}, [](const clap::Host* h) { self(h)->flushRequests++; }};
        static const clap::HostLatency latency = {[](const clap::Host* h) { self(h)->latencyChanges++; }};
        static const clap::HostLog log = {[](const clap::Host* h, int32_t severity, const char* text) {
            self(h)->log += std::to_string(severity) + " " + text;
        }};
        static const clap::HostThreadCheck threads = {onMain, [](const clap::Host* h) { return !onMain(h); }};
        static const clap::HostTimerSupport timers = {
            [](const clap::Host* h, uint32_t period, clap::Id* id) {
                *id = 7;
                return period == 50 && ++self(h)->timers;
            },
            [](const clap::Host* h, clap::Id id) { return id == 7 && self(h)->timers-- > 0; }};
        const void* offered[] = {&params, &latency, &log, &threads, &timers};
        const char* ids[] = {clap::kExtParams, clap::kExtLatency, clap::kExtLog, clap::kExtThreadCheck,
                             clap::kExtTimerSupport};
        for (int i = 0; i < 5; ++i)
            if (std::strcmp(id, ids[i]) == 0) return offered[i];
        return nullptr;
    }
};

// Parameter values and gestures, in time order as hosts send them.
struct InEvents {
    clap::EventParamValue events[8]{};
    uint32_t used = 0;
    clap::InputEvents list{this, [](const clap::InputEvents* l) { return static_cast<InEvents*>(l->ctx)->used; },
                           [](const clap::InputEvents* l, uint32_t i) -> const clap::EventHeader* {
                               return &static_cast<InEvents*>(l->ctx)->events[i].header;
                           }};
    InEvents& add(uint32_t time, clap::Id id, double v, uint16_t type = clap::kEventParamValue) {
        const uint32_t size = type == clap::kEventParamValue ? sizeof(clap::EventParamValue)
                                                             : sizeof(clap::EventParamGesture);
        events[used].header = {size, time, clap::kCoreEventSpace, type, 0};
        events[used].param_id = id;
        events[used++].value = v;
        return *this;
    }
};

struct OutEvents {
    std::vector<clap::EventParamValue> got;  // gestures with value 0
    clap::OutputEvents list{this, [](const clap::OutputEvents* l, const clap::EventHeader* e) {
                                clap::EventParamValue v{};
                                std::memcpy(&v, e, std::min<size_t>(e->size, sizeof v));
                                static_cast<OutEvents*>(l->ctx)->got.push_back(v);
                                return true;
                            }};
};

// Streams that take and give few bytes per call, so the plug-in must loop.
struct Bytes {
    std::vector<uint8_t> bytes;
    size_t at = 0, largestWrite = 0;
    clap::OStream out{this, [](const clap::OStream* s, const void* p, uint64_t n) -> int64_t {
                          auto* b = static_cast<Bytes*>(s->ctx);
                          b->largestWrite = std::max<size_t>(b->largestWrite, n);
                          n = std::min<uint64_t>(n, 5);
                          b->bytes.insert(b->bytes.end(), static_cast<const uint8_t*>(p),
                                          static_cast<const uint8_t*>(p) + n);
                          return static_cast<int64_t>(n);
                      }};
    clap::IStream in{this, [](const clap::IStream* s, void* p, uint64_t n) -> int64_t {
                         auto* b = static_cast<Bytes*>(s->ctx);
                         n = std::min<uint64_t>({n, 3, b->bytes.size() - b->at});
                         std::memcpy(p, b->bytes.data() + b->at, n);
                         b->at += n;
                         return static_cast<int64_t>(n);
                     }};
};

template <class T>
const T* ext(const clap::Plugin* p, const char* id) {
    return static_cast<const T*>(p->get_extension(p, id));
}

template <class F>
void onAudioThread(F f) {
    std::thread t(f);
    t.join();
}

class ClapModule : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module().factory) << clapFile();
        for (const char* name : {"tclapCounts", "tclapLastTempo", "tclapLastPosition", "tclapLastLatency",
                                 "tclapEntryPath", "tclapEditGain"})
            ASSERT_TRUE(module().fn<void()>(name)) << name;
        setSwitches(nullptr);
    }
    void TearDown() override { setSwitches(nullptr); }
    static const clap::Plugin* make(TestHost& host) {
        const clap::PluginFactory* f = module().factory;
        const clap::Plugin* p = f->create_plugin(f, &host.host, "org.quorvane.test.gain");
        return p && p->init(p) ? p : nullptr;
    }
};

TEST_F(ClapModule, EntryAndFactoryListTheEffectAndTheInstrument) {
    EXPECT_EQ(module().entry->clap_version.major * 10 + module().entry->clap_version.minor, 12u);
    EXPECT_FALSE(module().factoryBeforeInit);
    EXPECT_EQ(std::string(module().fn<const char*()>("tclapEntryPath")()), clapFile());
    const clap::PluginFactory* f = module().factory;
    ASSERT_EQ(f->get_plugin_count(f), 2u);
    const clap::PluginDescriptor* gain = f->get_plugin_descriptor(f, 0);
    const clap::PluginDescriptor* synth = f->get_plugin_descriptor(f, 1);
    ASSERT_TRUE(gain && synth);
    EXPECT_STREQ(gain->id, "org.quorvane.test.gain");
    EXPECT_STREQ(gain->name, "Qv Test Gain");
    EXPECT_STREQ(gain->features[0], "audio-effect");
    EXPECT_EQ(gain->features[2], nullptr);
    EXPECT_STREQ(synth->id, "org.quorvane.test.synth");
    EXPECT_STREQ(synth->features[0], "instrument");
    EXPECT_EQ(f->get_plugin_descriptor(f, 2), nullptr);
    TestHost host;
    EXPECT_EQ(f->create_plugin(f, &host.host, synth->id), nullptr);
    EXPECT_EQ(module().count(kLive), 0);
}

TEST_F(ClapModule, GainProcessesToTheSampleAndReportsLatencyAndEdits) {
    const int32_t activations = module().count(kActivations), violations = module().count(kViolations);
    TestHost host;
    const clap::Plugin* p = make(host);
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->init(p));  // once only
    auto* params = ext<clap::PluginParams>(p, clap::kExtParams);
    auto* latency = ext<clap::PluginLatency>(p, clap::kExtLatency);
    clap::AudioPortInfo port{};
    ASSERT_TRUE(ext<clap::PluginAudioPorts>(p, clap::kExtAudioPorts)->get(p, 0, false, &port));
    EXPECT_EQ(port.channel_count, 2u);
    ASSERT_EQ(params->count(p), 3u);
    char text[16];
    ASSERT_TRUE(params->value_to_text(p, 0, 1.4, text, sizeof text));
    EXPECT_STREQ(text, "1.40");
    double v = 0.0;
    ASSERT_TRUE(params->text_to_value(p, 0, "1.40", &v));
    EXPECT_EQ(v, 1.4);

    // Deactivated, a flushed latency changes at once and the host hears of it.
    InEvents flushIn;
    params->flush(p, &flushIn.add(0, 1, 250.0).list, nullptr);
    EXPECT_EQ(host.latencyChanges.load(), 1);
    EXPECT_EQ(latency->get(p), 250u);
    EXPECT_EQ(module().fn<int32_t()>("tclapLastLatency")(), 250);

    // The second gain value takes effect at exactly sample 10; the gesture
    // between changes nothing.
    ASSERT_TRUE(p->activate(p, 48000.0, 1, 64));
    constexpr uint32_t kFrames = 64;
    float in[2][kFrames], out[2][kFrames];
    for (uint32_t i = 0; i < kFrames; ++i) {
        in[0][i] = 0.01f * static_cast<float>(i) - 0.3f;
        in[1][i] = 0.7f - 0.013f * static_cast<float>(i);
    }
    float* ins[2] = {in[0], in[1]};
    float* outs[2] = {out[0], out[1]};
    clap::AudioBuffer inBuf{ins, nullptr, 2, 0, 0}, outBuf{outs, nullptr, 2, 0, 0};
    clap::EventTransport transport{};
    transport.flags = clap::kTransportHasTempo | clap::kTransportHasSecondsTimeline;
    transport.tempo = 97.5;
    transport.song_pos_seconds = 3 * clap::kFixedPointFactor;
    InEvents first;
    first.add(0, 0, 0.5).add(5, 0, 0.0, clap::kEventParamGestureBegin).add(10, 0, 1.4);
    OutEvents outEvents;
    clap::Process proc{0, kFrames, &transport, &inBuf, &outBuf, 1, 1, &first.list, &outEvents.list};
    onAudioThread([&] {
        p->start_processing(p);
        EXPECT_EQ(p->process(p, &proc), clap::kProcessContinue);
    });
    float peak = 0.0f;
    for (int c = 0; c < 2; ++c)
        for (uint32_t i = 0; i < kFrames; ++i) {
            ASSERT_EQ(out[c][i], in[c][i] * (i < 10 ? 0.5f : static_cast<float>(1.4))) << c << " " << i;
            peak = std::max(peak, std::fabs(out[c][i]));
        }
    ASSERT_EQ(outEvents.got.size(), 1u);
    EXPECT_EQ(outEvents.got[0].param_id, 2u);
    EXPECT_EQ(outEvents.got[0].value, static_cast<double>(peak));
    EXPECT_EQ(module().fn<double()>("tclapLastTempo")(), 97.5);
    EXPECT_EQ(module().fn<int64_t()>("tclapLastPosition")(), 3 * clap::kFixedPointFactor);

    // In place, the host passing one buffer; a latency while active asks
    // for one restart and waits for the next activate. The same block again
    // sends no peak.
    float io[2][kFrames];
    float* ios[2] = {io[0], io[1]};
    inBuf.data32 = outBuf.data32 = ios;
    InEvents second, third;
    second.add(63, 1, 500.0);
    third.add(0, 1, 600.0);
    onAudioThread([&] {
        std::memcpy(io, in, sizeof io);
        proc.in_events = &second.list;
        p->process(p, &proc);
    });
    for (int c = 0; c < 2; ++c)
        for (uint32_t i = 0; i < kFrames; ++i) ASSERT_EQ(io[c][i], in[c][i] * static_cast<float>(1.4)) << i;
    EXPECT_EQ(outEvents.got.size(), 2u);
    onAudioThread([&] {
        std::memcpy(io, in, sizeof io);
        proc.in_events = &third.list;
        p->process(p, &proc);
        p->stop_processing(p);
    });
    EXPECT_EQ(outEvents.got.size(), 2u);
    EXPECT_EQ(host.restarts.load(), 1);
    EXPECT_EQ(latency->get(p), 250u);
    ASSERT_TRUE(params->get_value(p, 1, &v));
    EXPECT_EQ(v, 600.0);
    p->deactivate(p);
    ASSERT_TRUE(p->activate(p, 44100.0, 1, 32));
    EXPECT_EQ(host.latencyChanges.load(), 2);
    EXPECT_EQ(latency->get(p), 600u);
    EXPECT_EQ(module().count(kMaxFrames) + module().count(kRate), 32 + 44100);
    p->deactivate(p);

    // An edit in the editor reaches the host as one gesture, in a flush it
    // is asked for.
    module().fn<void(const clap::Plugin*, double)>("tclapEditGain")(p, 0.75);
    EXPECT_EQ(host.flushRequests.load(), 1);
    OutEvents edit;
    params->flush(p, nullptr, &edit.list);
    ASSERT_EQ(edit.got.size(), 3u);
    EXPECT_EQ(edit.got[0].header.type, clap::kEventParamGestureBegin);
    EXPECT_EQ(edit.got[1].value, 0.75);
    EXPECT_EQ(edit.got[2].header.type, clap::kEventParamGestureEnd);

    p->destroy(p);
    EXPECT_EQ(module().count(kLive), 0);
    EXPECT_EQ(module().count(kActivations), activations + 2);
    EXPECT_EQ(module().count(kViolations), violations);  // every call on its proper thread
}

TEST_F(ClapModule, StateRoundTripsInPiecesAndDamageIsRefused) {
    TestHost host;
    const clap::Plugin* a = make(host);
    const clap::Plugin* b = make(host);
    ASSERT_TRUE(a && b);
    auto* state = ext<clap::PluginState>(a, clap::kExtState);
    auto* params = ext<clap::PluginParams>(a, clap::kExtParams);
    InEvents set;
    params->flush(a, &set.add(0, 0, 1.25).add(0, 1, 40.0).list, nullptr);
    Bytes saved;
    ASSERT_TRUE(state->save(a, &saved.out));
    ASSERT_EQ(saved.bytes.size(), 24u);
    EXPECT_LE(saved.largestWrite, 7u);
    EXPECT_EQ(std::memcmp(saved.bytes.data(), "QVCL\x01\0\0\0", 8), 0);
    double values[2];
    std::memcpy(values, saved.bytes.data() + 8, 16);  // the test machines are little-endian
    EXPECT_EQ(values[0], 1.25);
    EXPECT_EQ(values[1], 40.0);
    ASSERT_TRUE(state->load(b, &saved.in));
    EXPECT_EQ(ext<clap::PluginLatency>(b, clap::kExtLatency)->get(b), 40u);

    // Short, another tag, another version, a gain that is not a number.
    for (size_t at : {size_t{23}, size_t{0}, size_t{4}, size_t{15}}) {
        Bytes bad;
        bad.bytes = saved.bytes;
        bad.bytes[at] = 0xFF;
        bad.bytes.resize(at == 23 ? 23 : 24);
        if (at == 15) bad.bytes[14] = 0xFF;
        EXPECT_FALSE(state->load(b, &bad.in)) << at;
    }
    setSwitches("damaged-state");
    Bytes garbage;
    ASSERT_TRUE(state->save(a, &garbage.out));
    EXPECT_EQ(garbage.bytes.size(), 7u);
    EXPECT_FALSE(state->load(b, &garbage.in));
    double v;
    ASSERT_TRUE(params->get_value(b, 0, &v));
    EXPECT_EQ(v, 1.25);
    a->destroy(a);
    b->destroy(b);
}

TEST_F(ClapModule, SwitchesMisbehaveAsTheyNameAndThreadsAreChecked) {
    TestHost host;
    setSwitches("mono-ports log");
    const clap::Plugin* p = make(host);
    ASSERT_TRUE(p);
    EXPECT_EQ(host.log, "1 Qv Test Gain: init");
    clap::AudioPortInfo port{};
    ASSERT_TRUE(ext<clap::PluginAudioPorts>(p, clap::kExtAudioPorts)->get(p, 0, true, &port));
    EXPECT_EQ(port.channel_count, 1u);
    EXPECT_STREQ(port.port_type, "mono");
#if !defined(_WIN32)
    EXPECT_EQ(p->get_extension(p, clap::kExtGui), nullptr);  // no windows natively
#endif
    setSwitches("fail-activate");
    EXPECT_FALSE(p->activate(p, 48000.0, 1, 16));

    // A restart and the main-thread rescan from the audio thread, once each.
    setSwitches("wrong-thread restart-in-process");
    ASSERT_TRUE(p->activate(p, 48000.0, 1, 16));
    float samples[16] = {0.5f};
    float* channel[1] = {samples};
    clap::AudioBuffer buffer{channel, nullptr, 1, 0, 0};
    clap::Process proc{0, 16, nullptr, &buffer, &buffer, 1, 1, nullptr, nullptr};
    onAudioThread([&] {
        p->process(p, &proc);
        p->process(p, &proc);
    });
    EXPECT_EQ(samples[0], 0.5f);
    EXPECT_EQ(host.restarts.load(), 1);
    EXPECT_EQ(host.rescans.load(), 1);
    EXPECT_EQ(host.rescansOffMain.load(), 1);
    p->deactivate(p);

    // The plug-in's own checks: a state saved on the audio thread, a block on the main one.
    setSwitches(nullptr);
    const int32_t violations = module().count(kViolations);
    Bytes bytes;
    onAudioThread([&] { ext<clap::PluginState>(p, clap::kExtState)->save(p, &bytes.out); });
    ASSERT_TRUE(p->activate(p, 48000.0, 1, 16));
    p->process(p, &proc);
    p->deactivate(p);
    EXPECT_EQ(module().count(kViolations), violations + 2);
    p->destroy(p);

    setSwitches("fail-init");
    p = module().factory->create_plugin(module().factory, &host.host, "org.quorvane.test.gain");
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->init(p));
    p->destroy(p);
    EXPECT_EQ(module().count(kLive), 0);
}

// The hostile modules do what the wrapper's tests expect of them; the crash
// is only loaded, its factory never asked for.
TEST_F(ClapModule, HostileModulesMisbehaveAsTheirNamesSay) {
    auto load = [](const char* name) { return platformLoadModule(clapFile("clap-hostile", name).c_str()); };
    PlatformModule noEntry = load("QvNoEntry"), old = load("QvOldVersion"), failing = load("QvFailEntry"),
                   crash = load("QvCrash"), garbage = load("QvGarbage");
    ASSERT_TRUE(noEntry && old && failing && crash && garbage);
    EXPECT_EQ(entryOf(noEntry), nullptr);
    ASSERT_TRUE(entryOf(old) && entryOf(failing) && entryOf(crash));
    EXPECT_FALSE(clap::versionIsCompatible(entryOf(old)->clap_version));
    EXPECT_FALSE(entryOf(failing)->init("x"));

    const clap::PluginEntry* entry = entryOf(garbage);
    ASSERT_TRUE(entry && entry->init("x"));
    auto* f = static_cast<const clap::PluginFactory*>(entry->get_factory(clap::kPluginFactoryId));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->get_plugin_count(f), 1000000u);
    EXPECT_EQ(f->get_plugin_descriptor(f, 8), nullptr);
    EXPECT_EQ(f->get_plugin_descriptor(f, 9)->id, nullptr);
    EXPECT_EQ(f->get_plugin_descriptor(f, 10)->name, nullptr);
    EXPECT_EQ(f->get_plugin_descriptor(f, 11)->features, nullptr);
    EXPECT_EQ(f->get_plugin_descriptor(f, 12)->clap_version.major, 0u);
    EXPECT_EQ(std::strlen(f->get_plugin_descriptor(f, 14)->name), 65535u);
    const clap::PluginDescriptor* effect = f->get_plugin_descriptor(f, 999999);
    ASSERT_TRUE(effect && effect->id);
    TestHost host;
    EXPECT_EQ(f->create_plugin(f, &host.host, effect->id), nullptr);
    entry->deinit();
    for (PlatformModule m : {noEntry, old, failing, crash, garbage}) platformUnloadModule(m);
}

#if defined(_WIN32)
// The editor is a child window of the host's; a click edits the gain
// through the host, and a timer runs while it is open.
TEST_F(ClapModule, EditorIsAChildWindowWhoseClickReachesTheHost) {
    TestHost host;
    const int32_t violations = module().count(kViolations), ticks = module().count(kTicks);
    setSwitches("no-gui");
    const clap::Plugin* p = make(host);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->get_extension(p, clap::kExtGui), nullptr);
    p->destroy(p);
    setSwitches(nullptr);
    p = make(host);
    ASSERT_TRUE(p);
    auto* gui = ext<clap::PluginGui>(p, clap::kExtGui);
    ASSERT_TRUE(gui);
    EXPECT_TRUE(gui->is_api_supported(p, "win32", false));
    ASSERT_TRUE(gui->create(p, "win32", false));
    ASSERT_EQ(host.timers.load(), 1);
    ext<clap::PluginTimerSupport>(p, clap::kExtTimerSupport)->on_timer(p, 7);
    EXPECT_EQ(module().count(kTicks), ticks + 1);

    HWND parent = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 500, 400, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_TRUE(parent);
    clap::Window window{};
    window.api = "win32";
    window.win32 = parent;
    ASSERT_TRUE(gui->set_parent(p, &window));
    HWND child = FindWindowExA(parent, nullptr, "QvTestClapView", nullptr);
    ASSERT_TRUE(child);
    RECT r;
    GetClientRect(child, &r);
    EXPECT_EQ(r.right * 1000 + r.bottom, 300200);
    uint32_t w = 10, h = 10;
    ASSERT_TRUE(gui->adjust_size(p, &w, &h));
    EXPECT_EQ(w * 1000 + h, 100080u);
    ASSERT_TRUE(gui->set_size(p, 400, 250));
    GetClientRect(child, &r);
    EXPECT_EQ(r.right * 1000 + r.bottom, 400250);

    SendMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 20));
    EXPECT_EQ(host.flushRequests.load(), 1);
    OutEvents out;
    ext<clap::PluginParams>(p, clap::kExtParams)->flush(p, nullptr, &out.list);
    ASSERT_EQ(out.got.size(), 3u);
    EXPECT_EQ(out.got[1].param_id, 0u);
    EXPECT_EQ(out.got[1].value, 0.5);

    gui->destroy(p);
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(host.timers.load(), 0);
    DestroyWindow(parent);
    p->destroy(p);
    EXPECT_EQ(module().count(kViolations), violations);
}
#endif

}  // namespace
