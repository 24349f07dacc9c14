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

// The module, loaded and entered once per test program, never unloaded.
struct Module {
    PlatformModule library = nullptr;
    const clap::PluginEntry* entry = nullptr;
    bool factoryBeforeInit = true;
    const clap::PluginFactory* factory = nullptr;
    void (*counts)(int32_t*) = nullptr;
    double (*lastTempo)() = nullptr;
    int64_t (*lastPosition)() = nullptr;
    int32_t (*lastLatency)() = nullptr;
    const char* (*entryPath)() = nullptr;
    void (*editGain)(const clap::Plugin*, double) = nullptr;

    std::vector<int32_t> count() const {
        std::vector<int32_t> c(kCountSize);
        counts(c.data());
        return c;
    }
};

const Module& module() {
    static Module m = [] {
        Module m;
        m.library = platformLoadModule(clapFile().c_str());
        if (!m.library) return m;
        m.entry = static_cast<const clap::PluginEntry*>(platformFindSymbol(m.library, clap::kEntrySymbol));
        if (!m.entry) return m;
        m.factoryBeforeInit = m.entry->get_factory(clap::kPluginFactoryId) != nullptr;
        if (!m.entry->init(clapFile().c_str())) return m;
        m.factory = static_cast<const clap::PluginFactory*>(m.entry->get_factory(clap::kPluginFactoryId));
        m.counts = reinterpret_cast<void (*)(int32_t*)>(platformFindSymbol(m.library, "tclapCounts"));
        m.lastTempo = reinterpret_cast<double (*)()>(platformFindSymbol(m.library, "tclapLastTempo"));
        m.lastPosition = reinterpret_cast<int64_t (*)()>(platformFindSymbol(m.library, "tclapLastPosition"));
        m.lastLatency = reinterpret_cast<int32_t (*)()>(platformFindSymbol(m.library, "tclapLastLatency"));
        m.entryPath = reinterpret_cast<const char* (*)()>(platformFindSymbol(m.library, "tclapEntryPath"));
        m.editGain = reinterpret_cast<void (*)(const clap::Plugin*, double)>(
            platformFindSymbol(m.library, "tclapEditGain"));
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

// ---- the host's side ----

// Everything off the test's thread counts as the audio thread.
struct TestHost {
    clap::Host host{};
    std::thread::id mainThread = std::this_thread::get_id();
    std::atomic<int> restarts{0}, latencyChanges{0}, flushRequests{0}, rescans{0}, rescansOffMain{0}, logs{0};
    std::vector<clap::Id> timers;
    std::string lastLog;

    TestHost() {
        host.clap_version = clap::kHostVersion;
        host.host_data = this;
        host.name = host.vendor = host.url = host.version = "test";
        host.get_extension = extension;
        host.request_restart = [](const clap::Host* h) { self(h)->restarts++; };
        host.request_process = [](const clap::Host*) {};
        host.request_callback = [](const clap::Host*) {};
    }
    static TestHost* self(const clap::Host* h) { return static_cast<TestHost*>(h->host_data); }
    bool onMain() const { return std::this_thread::get_id() == mainThread; }

    static const void* CLAP_CALL extension(const clap::Host*, const char* id) {
        static const clap::HostParams params = {
            [](const clap::Host* h, uint32_t) {
                self(h)->rescans++;
                if (!self(h)->onMain()) self(h)->rescansOffMain++;
            },
            [](const clap::Host*, clap::Id, uint32_t) {}, [](const clap::Host* h) { self(h)->flushRequests++; }};
        static const clap::HostLatency latency = {[](const clap::Host* h) { self(h)->latencyChanges++; }};
        static const clap::HostLog log = {[](const clap::Host* h, int32_t severity, const char* text) {
            self(h)->logs++;
            self(h)->lastLog = std::to_string(severity) + " " + text;
        }};
        static const clap::HostThreadCheck threads = {[](const clap::Host* h) { return self(h)->onMain(); },
                                                      [](const clap::Host* h) { return !self(h)->onMain(); }};
        static const clap::HostTimerSupport timerSupport = {
            [](const clap::Host* h, uint32_t period, clap::Id* id) {
                if (period != 50) return false;
                *id = 7;
                self(h)->timers.push_back(7);
                return true;
            },
            [](const clap::Host* h, clap::Id id) {
                auto& t = self(h)->timers;
                for (auto it = t.begin(); it != t.end(); ++it)
                    if (*it == id) return t.erase(it), true;
                return false;
            }};
        if (std::strcmp(id, clap::kExtParams) == 0) return &params;
        if (std::strcmp(id, clap::kExtLatency) == 0) return &latency;
        if (std::strcmp(id, clap::kExtLog) == 0) return &log;
        if (std::strcmp(id, clap::kExtThreadCheck) == 0) return &threads;
        if (std::strcmp(id, clap::kExtTimerSupport) == 0) return &timerSupport;
        return nullptr;
    }
};

struct InEvents {
    std::vector<clap::EventParamValue> values;
    std::vector<clap::EventParamGesture> gestures;
    std::vector<const clap::EventHeader*> order;  // by time, as hosts send them
    clap::InputEvents list{this, [](const clap::InputEvents* l) {
                               return static_cast<uint32_t>(static_cast<InEvents*>(l->ctx)->order.size());
                           },
                           [](const clap::InputEvents* l, uint32_t i) {
                               return static_cast<InEvents*>(l->ctx)->order[i];
                           }};
    InEvents() {
        values.reserve(16);
        gestures.reserve(16);
    }
    void value(uint32_t time, clap::Id id, double v) {
        clap::EventParamValue e{};
        e.header = {sizeof e, time, clap::kCoreEventSpace, clap::kEventParamValue, 0};
        e.param_id = id;
        e.value = v;
        values.push_back(e);
        order.push_back(&values.back().header);
    }
    void gesture(uint32_t time, clap::Id id) {
        clap::EventParamGesture e{};
        e.header = {sizeof e, time, clap::kCoreEventSpace, clap::kEventParamGestureBegin, 0};
        e.param_id = id;
        gestures.push_back(e);
        order.push_back(&gestures.back().header);
    }
};

struct OutEvent {
    uint16_t type;
    clap::Id id;
    double value;
};
struct OutEvents {
    std::vector<OutEvent> got;
    clap::OutputEvents list{this, [](const clap::OutputEvents* l, const clap::EventHeader* e) {
                                auto* self = static_cast<OutEvents*>(l->ctx);
                                if (e->type == clap::kEventParamValue) {
                                    auto* v = reinterpret_cast<const clap::EventParamValue*>(e);
                                    self->got.push_back({e->type, v->param_id, v->value});
                                } else {
                                    auto* g = reinterpret_cast<const clap::EventParamGesture*>(e);
                                    self->got.push_back({e->type, g->param_id, 0.0});
                                }
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
        ASSERT_TRUE(module().counts && module().lastTempo && module().lastPosition && module().lastLatency &&
                    module().entryPath && module().editGain);
        setSwitches(nullptr);
    }
    void TearDown() override { setSwitches(nullptr); }
    const clap::Plugin* make(TestHost& host) {
        const clap::Plugin* p = module().factory->create_plugin(module().factory, &host.host, "org.quorvane.test.gain");
        return p && p->init(p) ? p : nullptr;
    }
};

TEST_F(ClapModule, EntryAndFactoryListTheEffectAndTheInstrument) {
    EXPECT_EQ(module().entry->clap_version.major, 1u);
    EXPECT_EQ(module().entry->clap_version.minor, 2u);
    EXPECT_FALSE(module().factoryBeforeInit);
    EXPECT_EQ(std::string(module().entryPath()), clapFile());
    EXPECT_EQ(module().entry->get_factory("clap.other-factory"), nullptr);
    const clap::PluginFactory* f = module().factory;
    ASSERT_EQ(f->get_plugin_count(f), 2u);
    const clap::PluginDescriptor* gain = f->get_plugin_descriptor(f, 0);
    const clap::PluginDescriptor* synth = f->get_plugin_descriptor(f, 1);
    ASSERT_TRUE(gain && synth);
    EXPECT_STREQ(gain->id, "org.quorvane.test.gain");
    EXPECT_STREQ(gain->name, "Qv Test Gain");
    EXPECT_STREQ(gain->features[0], "audio-effect");
    EXPECT_STREQ(gain->features[1], "stereo");
    EXPECT_EQ(gain->features[2], nullptr);
    EXPECT_STREQ(synth->id, "org.quorvane.test.synth");
    EXPECT_STREQ(synth->features[0], "instrument");
    EXPECT_EQ(synth->features[1], nullptr);
    EXPECT_EQ(f->get_plugin_descriptor(f, 2), nullptr);
    TestHost host;
    EXPECT_EQ(f->create_plugin(f, &host.host, "org.quorvane.test.synth"), nullptr);
    EXPECT_EQ(f->create_plugin(f, &host.host, "org.quorvane.test.nothing"), nullptr);
    EXPECT_EQ(module().count()[kLive], 0);
}

TEST_F(ClapModule, GainProcessesToTheSampleAndReportsLatencyAndEdits) {
    const std::vector<int32_t> before = module().count();
    TestHost host;
    const clap::Plugin* p = make(host);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->init(p), false);  // once only
    auto* ports = ext<clap::PluginAudioPorts>(p, clap::kExtAudioPorts);
    auto* params = ext<clap::PluginParams>(p, clap::kExtParams);
    auto* latency = ext<clap::PluginLatency>(p, clap::kExtLatency);
    ASSERT_TRUE(ports && params && latency && ext<clap::PluginState>(p, clap::kExtState));
    ASSERT_EQ(ports->count(p, true), 1u);
    clap::AudioPortInfo port{};
    ASSERT_TRUE(ports->get(p, 0, false, &port));
    EXPECT_EQ(port.channel_count, 2u);
    EXPECT_STREQ(port.port_type, "stereo");
    EXPECT_EQ(port.flags, clap::kAudioPortIsMain);

    ASSERT_EQ(params->count(p), 3u);
    clap::ParamInfo info{};
    ASSERT_TRUE(params->get_info(p, 1, &info));
    EXPECT_STREQ(info.name, "Latency");
    EXPECT_EQ(info.max_value, 1000.0);
    EXPECT_TRUE(info.flags & clap::kParamIsStepped);
    ASSERT_TRUE(params->get_info(p, 2, &info));
    EXPECT_TRUE(info.flags & clap::kParamIsReadonly);
    char text[16];
    ASSERT_TRUE(params->value_to_text(p, 0, 1.4, text, sizeof text));
    EXPECT_STREQ(text, "1.40");
    ASSERT_TRUE(params->value_to_text(p, 1, 250.0, text, sizeof text));
    EXPECT_STREQ(text, "250");
    EXPECT_FALSE(params->value_to_text(p, 0, 1.4, text, 3));
    double v = 0.0;
    ASSERT_TRUE(params->text_to_value(p, 0, "1.40", &v));
    EXPECT_EQ(v, 1.4);
    EXPECT_FALSE(params->text_to_value(p, 1, "many", &v));

    // Deactivated, a flushed latency changes at once and the host hears of it.
    InEvents flushIn;
    flushIn.value(0, 1, 250.0);
    params->flush(p, &flushIn.list, nullptr);
    EXPECT_EQ(host.latencyChanges.load(), 1);
    EXPECT_EQ(latency->get(p), 250u);
    EXPECT_EQ(module().lastLatency(), 250);

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
    InEvents events;
    events.value(0, 0, 0.5);
    events.gesture(5, 0);
    events.value(10, 0, 1.4);
    OutEvents outEvents;
    clap::Process proc{0, kFrames, &transport, &inBuf, &outBuf, 1, 1, &events.list, &outEvents.list};
    int32_t status = 0;
    onAudioThread([&] {
        p->start_processing(p);
        status = p->process(p, &proc);
    });
    ASSERT_EQ(status, clap::kProcessContinue);
    float peak = 0.0f;
    for (int c = 0; c < 2; ++c)
        for (uint32_t i = 0; i < kFrames; ++i) {
            ASSERT_EQ(out[c][i], in[c][i] * (i < 10 ? 0.5f : static_cast<float>(1.4))) << c << " " << i;
            peak = std::max(peak, std::fabs(out[c][i]));
        }
    ASSERT_EQ(outEvents.got.size(), 1u);
    EXPECT_EQ(outEvents.got[0].id, 2u);
    EXPECT_EQ(outEvents.got[0].value, static_cast<double>(peak));
    EXPECT_EQ(module().lastTempo(), 97.5);
    EXPECT_EQ(module().lastPosition(), 3 * clap::kFixedPointFactor);

    // In place at gain 1.4, the host passing one buffer; a latency while
    // active asks for one restart and waits for the next activate. The same
    // block again sends no peak.
    float io[2][kFrames];
    float* ios[2] = {io[0], io[1]};
    inBuf.data32 = outBuf.data32 = ios;
    InEvents second, third;
    second.value(63, 1, 500.0);
    third.value(0, 1, 600.0);
    outEvents.got.clear();
    onAudioThread([&] {
        std::memcpy(io, in, sizeof io);
        proc.in_events = &second.list;
        p->process(p, &proc);
    });
    for (int c = 0; c < 2; ++c)
        for (uint32_t i = 0; i < kFrames; ++i) ASSERT_EQ(io[c][i], in[c][i] * static_cast<float>(1.4)) << i;
    EXPECT_EQ(outEvents.got.size(), 1u);
    onAudioThread([&] {
        std::memcpy(io, in, sizeof io);
        proc.in_events = &third.list;
        p->process(p, &proc);
        p->stop_processing(p);
    });
    EXPECT_EQ(outEvents.got.size(), 1u);
    EXPECT_EQ(host.restarts.load(), 1);
    EXPECT_EQ(latency->get(p), 250u);
    ASSERT_TRUE(params->get_value(p, 1, &v));
    EXPECT_EQ(v, 600.0);
    p->deactivate(p);
    ASSERT_TRUE(p->activate(p, 44100.0, 1, 32));
    EXPECT_EQ(host.latencyChanges.load(), 2);
    EXPECT_EQ(latency->get(p), 600u);
    p->deactivate(p);

    // An edit in the editor reaches the host as one gesture in a flush it
    // asks for.
    module().editGain(p, 0.75);
    EXPECT_EQ(host.flushRequests.load(), 1);
    OutEvents flushOut;
    params->flush(p, nullptr, &flushOut.list);
    ASSERT_EQ(flushOut.got.size(), 3u);
    EXPECT_EQ(flushOut.got[0].type, clap::kEventParamGestureBegin);
    EXPECT_EQ(flushOut.got[1].type, clap::kEventParamValue);
    EXPECT_EQ(flushOut.got[1].value, 0.75);
    EXPECT_EQ(flushOut.got[2].type, clap::kEventParamGestureEnd);

    p->destroy(p);
    const std::vector<int32_t> after = module().count();
    EXPECT_EQ(after[kLive], before[kLive]);
    EXPECT_EQ(after[kActivations], before[kActivations] + 2);
    EXPECT_EQ(after[kProcesses], before[kProcesses] + 3);
    EXPECT_EQ(after[kMaxFrames], 32);
    EXPECT_EQ(after[kRate], 44100);
    EXPECT_EQ(after[kViolations], before[kViolations]);  // every call on its proper thread
    EXPECT_EQ(after[kDestroys], before[kDestroys] + 1);
}

TEST_F(ClapModule, StateRoundTripsInPiecesAndDamageIsRefused) {
    TestHost host;
    const clap::Plugin* a = make(host);
    const clap::Plugin* b = make(host);
    ASSERT_TRUE(a && b);
    auto* state = ext<clap::PluginState>(a, clap::kExtState);
    auto* params = ext<clap::PluginParams>(a, clap::kExtParams);
    InEvents set;
    set.value(0, 0, 1.25);
    set.value(0, 1, 40.0);
    params->flush(a, &set.list, nullptr);
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
    double v;
    ASSERT_TRUE(params->get_value(b, 0, &v));
    EXPECT_EQ(v, 1.25);
    EXPECT_EQ(ext<clap::PluginLatency>(b, clap::kExtLatency)->get(b), 40u);

    for (int damage = 0; damage < 4; ++damage) {
        Bytes bad;
        bad.bytes = saved.bytes;
        if (damage == 0) bad.bytes.pop_back();
        if (damage == 1) bad.bytes[0] = 'X';
        if (damage == 2) bad.bytes[4] = 2;
        if (damage == 3) std::memset(bad.bytes.data() + 8, 0xFF, 8);  // not a number
        EXPECT_FALSE(state->load(b, &bad.in)) << damage;
    }
    setSwitches("damaged-state");
    Bytes garbage;
    ASSERT_TRUE(state->save(a, &garbage.out));
    EXPECT_EQ(garbage.bytes.size(), 7u);
    EXPECT_FALSE(state->load(b, &garbage.in));
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
    EXPECT_EQ(host.logs.load(), 1);
    EXPECT_EQ(host.lastLog, "1 Qv Test Gain: init");
    clap::AudioPortInfo port{};
    ASSERT_TRUE(ext<clap::PluginAudioPorts>(p, clap::kExtAudioPorts)->get(p, 0, true, &port));
    EXPECT_EQ(port.channel_count, 1u);
    EXPECT_STREQ(port.port_type, "mono");
#if !defined(_WIN32)
    EXPECT_EQ(p->get_extension(p, clap::kExtGui), nullptr);  // no windows natively
#endif
    setSwitches("fail-activate");
    EXPECT_FALSE(p->activate(p, 48000.0, 1, 16));

    // Restart and the main-thread rescan from the audio thread, once each.
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

    // The plug-in's own check: a state saved on the audio thread, a block on the main one.
    setSwitches(nullptr);
    const int32_t violations = module().count()[kViolations];
    Bytes bytes;
    onAudioThread([&] { ext<clap::PluginState>(p, clap::kExtState)->save(p, &bytes.out); });
    ASSERT_TRUE(p->activate(p, 48000.0, 1, 16));
    p->process(p, &proc);
    p->deactivate(p);
    EXPECT_EQ(module().count()[kViolations], violations + 2);
    p->destroy(p);

    setSwitches("fail-init");
    const clap::Plugin* failing =
        module().factory->create_plugin(module().factory, &host.host, "org.quorvane.test.gain");
    ASSERT_TRUE(failing);
    EXPECT_FALSE(failing->init(failing));
    failing->destroy(failing);
    EXPECT_EQ(module().count()[kLive], 0);
}

// The hostile modules do what the wrapper's tests expect of them; the crash
// is only loaded, its factory never asked for.
TEST_F(ClapModule, HostileModulesMisbehaveAsTheirNamesSay) {
    auto entryOf = [](PlatformModule m) {
        return static_cast<const clap::PluginEntry*>(platformFindSymbol(m, clap::kEntrySymbol));
    };
    PlatformModule noEntry = platformLoadModule(clapFile("clap-hostile", "QvNoEntry").c_str());
    ASSERT_TRUE(noEntry);
    EXPECT_EQ(entryOf(noEntry), nullptr);
    platformUnloadModule(noEntry);

    PlatformModule old = platformLoadModule(clapFile("clap-hostile", "QvOldVersion").c_str());
    ASSERT_TRUE(old && entryOf(old));
    EXPECT_FALSE(clap::versionIsCompatible(entryOf(old)->clap_version));
    platformUnloadModule(old);

    PlatformModule failing = platformLoadModule(clapFile("clap-hostile", "QvFailEntry").c_str());
    ASSERT_TRUE(failing && entryOf(failing));
    EXPECT_FALSE(entryOf(failing)->init("x"));
    platformUnloadModule(failing);

    PlatformModule crash = platformLoadModule(clapFile("clap-hostile", "QvCrash").c_str());
    ASSERT_TRUE(crash);
    EXPECT_NE(entryOf(crash), nullptr);
    platformUnloadModule(crash);

    PlatformModule garbage = platformLoadModule(clapFile("clap-hostile", "QvGarbage").c_str());
    ASSERT_TRUE(garbage);
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
    platformUnloadModule(garbage);
}

#if defined(_WIN32)
// The editor is a child window of the host's; a click edits the gain
// through the host, and a timer runs while it is open.
TEST_F(ClapModule, EditorIsAChildWindowWhoseClickReachesTheHost) {
    TestHost host;
    const int32_t violations = module().count()[kViolations];
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
    EXPECT_FALSE(gui->is_api_supported(p, "win32", true));
    ASSERT_TRUE(gui->create(p, "win32", false));
    ASSERT_EQ(host.timers.size(), 1u);
    const int32_t ticks = module().count()[kTicks];
    ext<clap::PluginTimerSupport>(p, clap::kExtTimerSupport)->on_timer(p, host.timers[0]);
    EXPECT_EQ(module().count()[kTicks], ticks + 1);

    HWND parent = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 500, 400, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_TRUE(parent);
    clap::Window window{};
    window.api = "win32";
    window.win32 = parent;
    ASSERT_TRUE(gui->set_parent(p, &window));
    HWND child = FindWindowExA(parent, nullptr, "QvTestClapView", nullptr);
    ASSERT_TRUE(child);
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(gui->get_size(p, &w, &h));
    EXPECT_EQ(w, 300u);
    EXPECT_EQ(h, 200u);
    w = h = 10;
    ASSERT_TRUE(gui->adjust_size(p, &w, &h));
    EXPECT_EQ(w, 100u);
    EXPECT_EQ(h, 80u);
    EXPECT_TRUE(gui->can_resize(p));
    ASSERT_TRUE(gui->set_size(p, 400, 250));
    RECT r;
    GetClientRect(child, &r);
    EXPECT_EQ(r.right, 400);
    EXPECT_EQ(r.bottom, 250);

    SendMessageA(child, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 20));
    EXPECT_EQ(host.flushRequests.load(), 1);
    OutEvents out;
    ext<clap::PluginParams>(p, clap::kExtParams)->flush(p, nullptr, &out.list);
    ASSERT_EQ(out.got.size(), 3u);
    EXPECT_EQ(out.got[1].id, 0u);
    EXPECT_EQ(out.got[1].value, 0.5);

    EXPECT_TRUE(gui->hide(p));
    EXPECT_FALSE(IsWindowVisible(child));
    EXPECT_TRUE(gui->show(p));
    gui->destroy(p);
    EXPECT_FALSE(IsWindow(child));
    EXPECT_TRUE(host.timers.empty());
    DestroyWindow(parent);
    p->destroy(p);
    EXPECT_EQ(module().count()[kViolations], violations);
}
#endif

}  // namespace
