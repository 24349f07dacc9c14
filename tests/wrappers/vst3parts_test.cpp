// The VST 3 wrapper's parts that need no plug-in: where a bundle keeps its
// library, the scan cache as untrusted text, the memory streams plug-ins
// save into, and the fixed-size parameter change lists of a process call.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/appfolder.h"
#include "wrappers/vst3/vst3host.h"
#include "wrappers/vst3/vst3module.h"

using namespace vst3;

namespace {

TEST(Vst3Parts, ABundlesLibraryIsInsideItAndASingleFileIsItself) {
    AppFolder folder;
    const char sep = platformPathSeparator();
    const std::string bundle = folder.path() + "Echo Box.vst3";
    std::filesystem::create_directories(bundle);
    char library[kPathSize];
    ASSERT_TRUE(moduleLibrary(bundle.c_str(), library, sizeof library));
#if defined(_WIN32)
    EXPECT_EQ(bundle + "\\Contents\\x86_64-win\\Echo Box.vst3", std::string(library));
#else
    EXPECT_EQ(bundle + "/Contents/x86_64-linux/Echo Box.so", std::string(library));
#endif
    // A trailing separator names the same bundle.
    char again[kPathSize];
    ASSERT_TRUE(moduleLibrary((bundle + sep).c_str(), again, sizeof again));
    EXPECT_STREQ(library, again);
    ASSERT_TRUE(moduleLibrary((folder.path() + "Old.vst3").c_str(), library, sizeof library));
    EXPECT_EQ(folder.path() + "Old.vst3", std::string(library));
    // A path that does not fit is refused, never cut.
    EXPECT_FALSE(moduleLibrary(bundle.c_str(), library, bundle.size() + 5));
}

// Saved class ids have one layout on every system, the Windows one, so a
// performance saved by one build opens in the other.
TEST(Vst3Parts, SavedClassIdsHaveTheWindowsLayoutEverywhere) {
    const Uid gain = makeUid(0x51765433, 0x4761696E, 0x8A3C51E7, 0x00000001);
    const uint8_t file[16] = {0x33, 0x54, 0x76, 0x51, 0x61, 0x47, 0x6E, 0x69,
                              0x8A, 0x3C, 0x51, 0xE7, 0x00, 0x00, 0x00, 0x01};
    uint8_t out[16];
    uidInFileOrder(gain.b, out);
    EXPECT_EQ(0, std::memcmp(file, out, 16));
    uidInFileOrder(file, out);
    EXPECT_EQ(0, std::memcmp(gain.b, out, 16));
}

TEST(Vst3Parts, TheCacheRoundTripsAndAnyDamageMeansScanningAnew) {
    const char* kTag = kVst3Scan.cacheTag;
    AppFolder folder;
    CachedModule a{}, b{};
    std::snprintf(a.path, sizeof a.path, "%s", (folder.path() + "A.vst3").c_str());
    a.size = 1234;
    a.time = -5;
    a.readable = true;
    PluginClass classes[2]{};
    uint8_t cid[16];
    for (int k = 0; k < 16; ++k) cid[k] = static_cast<uint8_t>(k * 17);
    classIdText(cid, classes[0].id);
    std::snprintf(classes[1].id, sizeof classes[1].id, "%s", "org.example.second");
    std::snprintf(classes[0].name, sizeof classes[0].name, "Echo Box");
    std::snprintf(classes[1].name, sizeof classes[1].name, "Second One");
    a.classes = classes;
    a.classCount = 2;
    a.next = &b;
    std::snprintf(b.path, sizeof b.path, "%s", "/x/Broken.vst3");
    b.size = 7;
    b.time = 8;
    const std::string file = folder.path() + "cache.txt";
    ASSERT_TRUE(cacheWrite(kTag, file.c_str(), &a));
    CachedModule* read = cacheRead(kTag, file.c_str());
    ASSERT_NE(nullptr, read);
    const CachedModule* found = cacheFind(read, a.path, 1234, -5);
    ASSERT_NE(nullptr, found);
    EXPECT_TRUE(found->readable);
    ASSERT_EQ(2, found->classCount);
    uint8_t back[16];
    ASSERT_TRUE(classIdBytes(found->classes[0].id, back));
    EXPECT_EQ(0, std::memcmp(cid, back, 16));
    EXPECT_STREQ("org.example.second", found->classes[1].id);
    EXPECT_FALSE(classIdBytes(found->classes[1].id, back)) << "not a VST 3 class id";
    EXPECT_STREQ("Second One", found->classes[1].name);
    EXPECT_EQ(nullptr, cacheFind(read, a.path, 1234, -4));  // touched since: scanned again
    const CachedModule* broken = cacheFind(read, "/x/Broken.vst3", 7, 8);
    ASSERT_NE(nullptr, broken);
    EXPECT_FALSE(broken->readable);
    EXPECT_EQ(0, broken->classCount);
    cacheFree(read);

    const std::string damaged[] = {
        "",
        "QVVST3CACHE 2\n",
        "QVVST3CACHE 1\nC 000102030405060708090A0B0C0D0E0F orphan\n",
        "QVVST3CACHE 1\nM 1 2 3 /p\n",
        "QVVST3CACHE 1\nM 1 2 1\n",
        "QVVST3CACHE 1\nM x 2 1 /p\n",
        "QVVST3CACHE 1\nM 1 2 1 /p\nC no-name\n",
        "QVVST3CACHE 1\nM 1 2 1 /p\nC  empty id\n",
        "QVVST3CACHE 1\nM 1 2 1 /p\nC " + std::string(200, 'x') + " too long an id\n",
        "QVCLAPCACHE 1\n",
        "QVVST3CACHE 1\nX what\n",
    };
    for (const std::string& text : damaged) EXPECT_EQ(nullptr, cacheParse(kTag, text.data(), text.size())) << text;
    // A NUL inside a line, and a line longer than any valid one.
    const std::string nul("QVVST3CACHE 1\nM 1 2 1 /p\0q\n", 27);
    EXPECT_EQ(nullptr, cacheParse(kTag, nul.data(), nul.size()));
    const std::string longLine = "QVVST3CACHE 1\nM 1 2 1 /" + std::string(5000, 'a') + "\n";
    EXPECT_EQ(nullptr, cacheParse(kTag, longLine.data(), longLine.size()));
    // A missing file, and an empty valid one.
    EXPECT_EQ(nullptr, cacheRead(kTag, (folder.path() + "none.txt").c_str()));
    EXPECT_EQ(nullptr, cacheParse(kTag, "QVVST3CACHE 1\n", 14));
    // Hex that is not hex is no VST 3 class id.
    EXPECT_FALSE(classIdBytes("0001020304050607080G0A0B0C0D0E0F", back));
}

TEST(Vst3Parts, StreamsReadWriteSeekWithinTheirLimits) {
    MemoryStream* s = MemoryStream::create();
    ASSERT_NE(nullptr, s);
    char text[] = "abcdef";
    int32_t moved = 0;
    EXPECT_EQ(kResultOk, s->write(text, 6, &moved));
    EXPECT_EQ(6, moved);
    int64_t at = 0;
    EXPECT_EQ(kResultOk, s->seek(2, IBStream::kSeekSet, &at));
    EXPECT_EQ(2, at);
    char back[8] = {};
    EXPECT_EQ(kResultOk, s->read(back, 8, &moved));
    EXPECT_EQ(4, moved);
    EXPECT_STREQ("cdef", back);
    EXPECT_EQ(kResultOk, s->read(back, 8, &moved));  // at the end: nothing, not an error
    EXPECT_EQ(0, moved);
    EXPECT_NE(kResultOk, s->seek(-1, IBStream::kSeekSet, nullptr));
    EXPECT_NE(kResultOk, s->seek(0, 7, nullptr));
    EXPECT_NE(kResultOk, s->read(back, -1, &moved));
    // Writing past the end fills the gap with zeros.
    EXPECT_EQ(kResultOk, s->seek(2, IBStream::kSeekEnd, nullptr));
    EXPECT_EQ(kResultOk, s->write(text, 1, &moved));
    ASSERT_EQ(9u, s->size());
    EXPECT_EQ(0, s->data()[7]);
    EXPECT_EQ('a', s->data()[8]);
    void* other = nullptr;
    EXPECT_EQ(kResultOk, s->queryInterface(kIBStreamIid.b, &other));
    EXPECT_EQ(static_cast<IBStream*>(s), other);
    EXPECT_EQ(kNoInterface, s->queryInterface(kIComponentIid.b, &other));
    EXPECT_EQ(1u, s->release());
    EXPECT_EQ(0u, s->release());

    MemoryStream* r = MemoryStream::reading(reinterpret_cast<const uint8_t*>("xyz"), 3);
    ASSERT_NE(nullptr, r);
    EXPECT_EQ(kResultOk, r->read(back, 3, &moved));
    EXPECT_EQ(3, moved);
    r->release();
}

TEST(Vst3Parts, ChangeListsKeepOrderAndTheirBoundsAndRingsDropWhenFull) {
    ParamChanges changes;
    int32_t index = -1;
    IParamValueQueue* q = changes.addParameterData(7, index);
    ASSERT_NE(nullptr, q);
    EXPECT_EQ(0, index);
    EXPECT_EQ(q, changes.addParameterData(7, index));  // one queue per parameter
    q->addPoint(0, 0.25, index);
    q->addPoint(10, 0.5, index);
    q->addPoint(10, 0.75, index);  // the same offset replaces
    EXPECT_EQ(2, q->getPointCount());
    for (int i = 0; i < 40; ++i) q->addPoint(20 + i, i / 40.0, index);  // full: the last point keeps the newest
    EXPECT_EQ(ParamQueue::kPoints, q->getPointCount());
    int32_t offset = 0;
    ParamValue value = 0;
    EXPECT_EQ(kResultOk, q->getPoint(1, offset, value));
    EXPECT_EQ(10, offset);
    EXPECT_EQ(0.75, value);
    EXPECT_NE(kResultOk, q->getPoint(ParamQueue::kPoints, offset, value));
    for (ParamID id = 100; id < 200; ++id) changes.addParameterData(id, index);
    EXPECT_EQ(ParamChanges::kQueues, changes.getParameterCount());
    EXPECT_EQ(nullptr, changes.getParameterData(ParamChanges::kQueues));
    int seen = 0;
    changes.lastValues([&](ParamID id, ParamValue v) {
        if (id == 7) EXPECT_EQ(39 / 40.0, v);
        ++seen;
    });
    EXPECT_EQ(1, seen);  // the others have no points
    changes.clear();
    EXPECT_EQ(0, changes.getParameterCount());

    ParamRing ring;
    int pushed = 0;
    while (ring.push(1, pushed)) ++pushed;
    EXPECT_EQ(static_cast<int>(ParamRing::kCapacity) - 1, pushed);
    ParamPoint point{};
    ASSERT_TRUE(ring.pop(point));
    EXPECT_EQ(0.0, point.value);
    EXPECT_TRUE(ring.push(2, 9.0));
}

}  // namespace
