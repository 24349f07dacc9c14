// The shell's platform-free pieces: the settings records as the registry
// hands them over (untrusted), the frame title, the command line and what
// a report box shows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/settings.h"
#include "app/shell.h"

namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

void putFloat(std::vector<uint8_t>& record, size_t at, float value) { std::memcpy(&record[at], &value, 4); }

void putInt(std::vector<uint8_t>& record, size_t at, int32_t value) {
    for (int i = 0; i < 4; ++i) record[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
}

TEST(Settings, DeviceRecordIsLimitedFieldByField) {
    DeviceSettings d;
    auto r = bytes({7, 0xFF, 16, 0xFF, 11});
    ASSERT_TRUE(decodeDeviceSettings(kRegBinary, r.data(), r.size(), d));
    EXPECT_EQ(d.system, 1u);        // any other system reads as ASIO
    EXPECT_EQ(d.latencyMs, 100u);   // -1 compared unsigned is huge: the maximum, not the minimum
    EXPECT_EQ(d.formatIndex, 5);    // outside the table: the default format
    EXPECT_EQ(d.buffers, 2);        // signed -1 is below the minimum
    EXPECT_EQ(d.outputDelayMs, 10);

    r = bytes({0, 3, 15, 100, 4});
    ASSERT_TRUE(decodeDeviceSettings(kRegBinary, r.data(), r.size(), d));
    EXPECT_EQ(d.system, 0u);
    EXPECT_EQ(d.latencyMs, 5u);
    EXPECT_EQ(d.formatIndex, 15);
    EXPECT_EQ(d.buffers, 64);
    EXPECT_EQ(d.outputDelayMs, 4);

    uint8_t encoded[kSt001Size];
    encodeDeviceSettings(d, encoded);
    DeviceSettings back;
    ASSERT_TRUE(decodeDeviceSettings(kRegBinary, encoded, sizeof encoded, back));
    EXPECT_EQ(back.latencyMs, d.latencyMs);
    EXPECT_EQ(back.buffers, d.buffers);
}

TEST(Settings, RecordsOfTheWrongTypeOrSizeAreIgnoredWhole) {
    std::vector<uint8_t> master(kSt002Size + 1, 0);
    MasterSettings m;
    m.masterGain = 0.25f;
    EXPECT_FALSE(decodeMasterSettings(kRegBinary, master.data(), kSt002Size - 1, m));  // 21 bytes
    EXPECT_FALSE(decodeMasterSettings(kRegBinary, master.data(), kSt002Size + 1, m));
    EXPECT_FALSE(decodeMasterSettings(kRegString, master.data(), kSt002Size, m));
    EXPECT_FALSE(decodeMasterSettings(kRegBinary, nullptr, kSt002Size, m));
    EXPECT_EQ(m.masterGain, 0.25f);
    DeviceSettings d;
    EXPECT_FALSE(decodeDeviceSettings(4 /* a DWORD */, master.data(), kSt001Size, d));
    FramePlacement p;
    EXPECT_FALSE(decodeFramePlacement(kRegBinary, master.data(), kWw001Size - 1, p));
    WindowPositions w;
    EXPECT_FALSE(decodeWindowPositions(kRegBinary, master.data(), kWw002Size + 1, w));
}

TEST(Settings, MasterRecordClampsGainsAndRejectsNonFiniteValues) {
    std::vector<uint8_t> r(kSt002Size, 0);
    putFloat(r, 0, 10.0f);
    putFloat(r, 4, std::numeric_limits<float>::quiet_NaN());
    putFloat(r, 8, 0.75f);
    r[12] = 0x2C, r[13] = 0x01;  // 300 ms attack
    r[14] = 0xE8, r[15] = 0x03;  // 1000 ms release
    putFloat(r, 16, std::numeric_limits<float>::infinity());
    r[20] = 9, r[21] = 0;
    MasterSettings m;
    m.inputGain = 0.5f;
    ASSERT_TRUE(decodeMasterSettings(kRegBinary, r.data(), r.size(), m));
    EXPECT_EQ(m.masterGain, 4.0f);
    EXPECT_EQ(m.inputGain, 0.5f);      // NaN: the value the program had stays
    EXPECT_EQ(m.gateThreshold, 0.5f);
    EXPECT_EQ(m.gateAttackMs, 200);
    EXPECT_EQ(m.gateReleaseMs, 700);
    EXPECT_EQ(m.metronomeTempo, 120.0f);
    EXPECT_TRUE(m.metronomeOn);
    EXPECT_FALSE(m.dcRemoverOn);

    putFloat(r, 0, -1.0f);
    putFloat(r, 16, 97.5f);
    ASSERT_TRUE(decodeMasterSettings(kRegBinary, r.data(), r.size(), m));
    EXPECT_EQ(m.masterGain, 0.0f);
    EXPECT_EQ(m.metronomeTempo, 97.5f);

    uint8_t encoded[kSt002Size];
    encodeMasterSettings(m, encoded);
    MasterSettings back;
    ASSERT_TRUE(decodeMasterSettings(kRegBinary, encoded, sizeof encoded, back));
    EXPECT_EQ(back.metronomeTempo, 97.5f);
    EXPECT_EQ(back.gateReleaseMs, 700);
    EXPECT_FALSE(back.dcRemoverOn);
}

TEST(Settings, RecorderRecordLimitsFormatAndTime) {
    RecorderSettings r;
    auto v = bytes({0, 0, 5, 200, 0xFF, 0xFF});  // format 200 reads as -56
    ASSERT_TRUE(decodeRecorderSettings(kRegBinary, v.data(), v.size(), r));
    EXPECT_FALSE(r.dryOnly);
    EXPECT_FALSE(r.startAccompaniment);
    EXPECT_TRUE(r.ramMode);
    EXPECT_EQ(r.formatIndex, 5);
    EXPECT_EQ(r.maxSeconds, 600);
    v = bytes({1, 1, 0, 16, 3, 0});
    ASSERT_TRUE(decodeRecorderSettings(kRegBinary, v.data(), v.size(), r));
    EXPECT_EQ(r.formatIndex, 5);
    EXPECT_EQ(r.maxSeconds, 10);
    v = bytes({1, 1, 0, 15, 0x2C, 0x01});
    ASSERT_TRUE(decodeRecorderSettings(kRegBinary, v.data(), v.size(), r));
    EXPECT_EQ(r.formatIndex, 15);
    EXPECT_EQ(r.maxSeconds, 300);
}

TEST(Settings, FramePlacementKeepsOnlyUsableRectanglesAndVisibleStates) {
    std::vector<uint8_t> r(kWw001Size, 0);
    auto place = [&](int32_t show, int32_t l, int32_t rt, int32_t t, int32_t b) {
        putInt(r, 0, show), putInt(r, 4, l), putInt(r, 8, rt), putInt(r, 12, t), putInt(r, 16, b);
        FramePlacement p;
        EXPECT_TRUE(decodeFramePlacement(kRegBinary, r.data(), r.size(), p));
        return p;
    };
    FramePlacement p = place(3, 10, 810, 20, 620);  // stored left, right, top, bottom
    EXPECT_EQ(p.showState, 3);
    ASSERT_TRUE(p.haveRectangle);
    EXPECT_EQ(p.left, 10);
    EXPECT_EQ(p.right, 810);
    EXPECT_EQ(p.top, 20);
    EXPECT_EQ(p.bottom, 620);
    EXPECT_EQ(place(0, 10, 810, 20, 620).showState, 1);  // hidden would lose the window
    EXPECT_EQ(place(7, 10, 810, 20, 620).showState, 1);
    EXPECT_FALSE(place(2, -32000, -31840, -32000, -31970).haveRectangle);  // parked when minimised
    EXPECT_FALSE(place(1, 100, 100, 20, 620).haveRectangle);             // empty
    EXPECT_FALSE(place(1, 500, 100, 20, 620).haveRectangle);             // inverted
    EXPECT_FALSE(place(1, 0, 2000000, 0, 600).haveRectangle);            // absurd
    EXPECT_FALSE(place(1, INT32_MIN, INT32_MAX, 0, 600).haveRectangle);  // no overflow either

    FramePlacement out;
    out.showState = 2, out.left = 1, out.right = 2, out.top = 3, out.bottom = 4;
    uint8_t encoded[kWw001Size];
    encodeFramePlacement(out, encoded);
    EXPECT_EQ(encoded[0], 2);
    EXPECT_EQ(encoded[4], 1);
    EXPECT_EQ(encoded[8], 2);  // right before top, as the record keeps them
    EXPECT_EQ(encoded[12], 3);
}

TEST(Settings, WindowPositionsRoundTrip) {
    WindowPositions w;
    w.masterX = -5, w.masterY = 70000, w.masterOpen = true, w.inputMeterX = 1, w.outputMeterY = 2;
    uint8_t encoded[kWw002Size];
    encodeWindowPositions(w, encoded);
    WindowPositions back;
    ASSERT_TRUE(decodeWindowPositions(kRegBinary, encoded, sizeof encoded, back));
    EXPECT_EQ(back.masterX, -5);
    EXPECT_EQ(back.masterY, 70000);
    EXPECT_TRUE(back.masterOpen);
    EXPECT_EQ(back.inputMeterX, 1);
    EXPECT_EQ(back.outputMeterY, 2);
    EXPECT_EQ(WindowPositions{}.masterX, kDefaultPosition);
}

TEST(Settings, StringsMustBeNonEmptyStringsThatFit) {
    char out[8];
    const uint8_t unterminated[] = {'Q', 'v', 'O', 'u', 't'};
    ASSERT_TRUE(decodeStringSetting(kRegString, unterminated, sizeof unterminated, out, sizeof out));
    EXPECT_STREQ(out, "QvOut");
    const uint8_t terminated[] = {'a', 'b', 0, 'x'};
    ASSERT_TRUE(decodeStringSetting(kRegString, terminated, sizeof terminated, out, sizeof out));
    EXPECT_STREQ(out, "ab");
    const uint8_t eight[] = {'1', '2', '3', '4', '5', '6', '7', '8'};
    EXPECT_FALSE(decodeStringSetting(kRegString, eight, sizeof eight, out, sizeof out));  // no room for the zero
    EXPECT_FALSE(decodeStringSetting(kRegString, terminated, 0, out, sizeof out));
    EXPECT_FALSE(decodeStringSetting(kRegBinary, unterminated, sizeof unterminated, out, sizeof out));
}

TEST(Settings, ApplicationDirectoryGetsItsBackslashAndMustLeaveRoomForItsPaths) {
    char out[300];
    ASSERT_TRUE(applicationDirectoryFrom("C:\\Program Files\\Quorvane Live", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Program Files\\Quorvane Live\\");
    ASSERT_TRUE(applicationDirectoryFrom("C:\\Q\\", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Q\\");
    EXPECT_FALSE(applicationDirectoryFrom("", out, sizeof out));
    // The converter's path is the longest built from it: 245 + 14 = 259 fits.
    std::string longest = "C:\\" + std::string(241, 'a') + "\\";
    ASSERT_EQ(longest.size(), 245u);
    EXPECT_TRUE(applicationDirectoryFrom(longest.c_str(), out, sizeof out));
    longest = "C:\\b" + longest.substr(3);
    EXPECT_FALSE(applicationDirectoryFrom(longest.c_str(), out, sizeof out));
}

// A settings key held in memory, read as the registry reads: a value larger
// than the buffer offered is not read at all.
struct FakeKey {
    struct Value {
        uint32_t type;
        std::vector<uint8_t> bytes;
    };
    std::vector<std::pair<std::string, Value>> values;
    std::vector<std::pair<std::string, size_t>> offered;  // what each read offered

    void set(const std::string& name, uint32_t type, std::vector<uint8_t> data) {
        values.push_back({name, {type, data}});
    }
    void setString(const std::string& name, const std::string& text) {
        std::vector<uint8_t> data(text.begin(), text.end());
        data.push_back(0);
        set(name, kRegString, data);
    }
    static bool read(void* context, const char* name, uint32_t& type, uint8_t* data, size_t& size) {
        FakeKey& key = *static_cast<FakeKey*>(context);
        key.offered.push_back({name, size});
        for (const auto& [n, v] : key.values) {
            if (n != name) continue;
            if (v.bytes.size() > size) return false;
            type = v.type;
            std::memcpy(data, v.bytes.data(), v.bytes.size());
            size = v.bytes.size();
            return true;
        }
        return false;
    }
};

TEST(Settings, StoredSettingsReadEveryValueAndKeepWhatIsRefused) {
    FakeKey key;
    StoredSettings s;
    s.device.latencyMs = 33;
    s.master.masterGain = 0.5f;
    readStoredSettings(FakeKey::read, &key, s);  // an empty key changes nothing
    EXPECT_EQ(s.device.latencyMs, 33u);
    EXPECT_FALSE(s.haveMaster || s.haveRecorder || s.havePlacement || s.havePositions);
    EXPECT_STREQ(s.dxInput, "");
    // Each name once, offered no more than its buffer (records: one byte more
    // than any record).
    const std::vector<std::pair<std::string, size_t>> expected = {
        {"DxInput", 200}, {"DxOutput", 200}, {"AsioDevice", 200}, {"st001", 32},      {"st004", 32},
        {"WasapiInput", 200}, {"WasapiOutput", 200}, {"st002", 32}, {"st003", 32},    {"ww001", 32},
        {"ww002", 32},    {"PrfLoad", 259},  {"PrfSave", 259},    {"AccOpen", 259}};
    EXPECT_EQ(key.offered, expected);

    key.setString("DxInput", std::string(199, 'i'));  // the longest name that fits
    key.setString("DxOutput", std::string(200, 'o'));  // one too long
    key.set("AsioDevice", kRegBinary, bytes({'A', 'S', 'I', 'O', 0}));
    key.set("st001", kRegBinary, bytes({1, 20, 3, 4, 5}));
    std::vector<uint8_t> master(kSt002Size, 0);
    putFloat(master, 0, 2.0f);
    key.set("st002", kRegBinary, master);
    key.set("st003", kRegBinary, std::vector<uint8_t>(33, 1));  // longer than any record
    std::vector<uint8_t> placement(kWw001Size, 0);
    putInt(placement, 0, 3);
    key.set("ww001", kRegBinary, placement);
    key.set("ww002", kRegString, std::vector<uint8_t>(kWw002Size, 1));  // wrong type
    key.setString("PrfLoad", "C:\\perf\\a.qvp");
    key.set("PrfSave", kRegString, std::vector<uint8_t>(259, 'p'));  // fits the read, not the terminator
    key.setString("AccOpen", "");
    readStoredSettings(FakeKey::read, &key, s);
    EXPECT_EQ(std::string(s.dxInput), std::string(199, 'i'));
    EXPECT_STREQ(s.dxOutput, "");
    EXPECT_STREQ(s.asioDevice, "");
    EXPECT_EQ(s.device.system, 1u);
    EXPECT_EQ(s.device.latencyMs, 20u);
    EXPECT_TRUE(s.haveMaster);
    EXPECT_EQ(s.master.masterGain, 2.0f);
    EXPECT_FALSE(s.haveRecorder);
    EXPECT_TRUE(s.havePlacement);
    EXPECT_EQ(s.placement.showState, 3);
    EXPECT_FALSE(s.placement.haveRectangle);
    EXPECT_FALSE(s.havePositions);
    EXPECT_EQ(s.positions.masterX, kDefaultPosition);
    EXPECT_STREQ(s.lastOpenPath, "C:\\perf\\a.qvp");
    EXPECT_STREQ(s.lastSavePath, "");
    EXPECT_STREQ(s.lastAccompanimentPath, "");
}

// WASAPI is stored beside the device record, which keeps saying DirectSound
// for releases that know nothing else. A device record written since by
// such a release (it differs from the copy) takes the choice back.
TEST(Settings, TheWasapiChoiceHoldsOnlyWhileTheDeviceRecordIsTheOneWrittenWithIt) {
    DeviceSettings device;
    device.latencyMs = 20;
    uint8_t st001[kSt001Size];
    encodeDeviceSettings(device, st001);
    EXPECT_EQ(0, st001[0]) << "the device record says DirectSound";
    WasapiChoice choice;
    choice.chosen = true;
    choice.mode = 2;
    std::memcpy(choice.deviceRecord, st001, kSt001Size);
    uint8_t st004[kSt004Size];
    encodeWasapiChoice(choice, st004);

    FakeKey key;
    key.set("st001", kRegBinary, std::vector<uint8_t>(st001, st001 + kSt001Size));
    key.set("st004", kRegBinary, std::vector<uint8_t>(st004, st004 + kSt004Size));
    key.setString("WasapiInput", "{0.0.1.00000000}.{guid}");
    key.setString("WasapiOutput", kWasapiDefaultToken);
    StoredSettings s;
    readStoredSettings(FakeKey::read, &key, s);
    EXPECT_TRUE(wasapiChosen(s));
    EXPECT_EQ(2u, s.wasapi.mode);
    EXPECT_STREQ("{0.0.1.00000000}.{guid}", wasapiEndpointId(s.wasapiInput));
    EXPECT_STREQ("", wasapiEndpointId(s.wasapiOutput));

    // An older release chose ASIO, or another latency: its choice stands.
    for (uint8_t changed : {uint8_t{0}, uint8_t{1}}) {
        std::vector<uint8_t> other(st001, st001 + kSt001Size);
        other[changed] = changed == 0 ? 1 : 40;
        key.values.front().second.bytes = other;  // st001, set first
        StoredSettings t;
        readStoredSettings(FakeKey::read, &key, t);
        EXPECT_FALSE(wasapiChosen(t)) << int(changed);
    }
    // Not chosen, an unknown mode, a record of another size.
    choice.chosen = false;
    encodeWasapiChoice(choice, st004);
    WasapiChoice back;
    ASSERT_TRUE(decodeWasapiChoice(kRegBinary, st004, kSt004Size, back));
    EXPECT_FALSE(back.chosen);
    st004[1] = 7;
    ASSERT_TRUE(decodeWasapiChoice(kRegBinary, st004, kSt004Size, back));
    EXPECT_EQ(0u, back.mode);
    EXPECT_FALSE(decodeWasapiChoice(kRegBinary, st004, kSt004Size - 1, back));
}

TEST(Settings, StoredApplicationDirectoryIsAStringOfAtMost260Bytes) {
    char out[300] = "unchanged";
    FakeKey key;
    EXPECT_FALSE(readStoredApplicationDirectory(FakeKey::read, &key, out, sizeof out));
    ASSERT_EQ(key.offered.size(), 1u);
    EXPECT_EQ(key.offered[0], (std::pair<std::string, size_t>{"AppDir", 260}));
    key.set("AppDir", kRegString, bytes({'C', ':', '\\', 'Q'}));  // unterminated
    ASSERT_TRUE(readStoredApplicationDirectory(FakeKey::read, &key, out, sizeof out));
    EXPECT_STREQ(out, "C:\\Q\\");
    FakeKey binary;
    binary.set("AppDir", kRegBinary, bytes({'C', ':', '\\', 0}));
    EXPECT_FALSE(readStoredApplicationDirectory(FakeKey::read, &binary, out, sizeof out));
    FakeKey tooLong;  // fits the read, but the converter's path would not fit
    tooLong.setString("AppDir", "C:\\" + std::string(250, 'a'));
    EXPECT_FALSE(readStoredApplicationDirectory(FakeKey::read, &tooLong, out, sizeof out));
    EXPECT_STREQ(out, "C:\\Q\\");
}

TEST(Shell, VstDirectoryIsStoredWithOneBackslashAndMustFitTheWrappersRead) {
    char out[300];
    EXPECT_EQ(vstDirectoryToStore("C:\\VST", out, sizeof out), 0);
    EXPECT_STREQ(out, "C:\\VST\\");
    EXPECT_EQ(vstDirectoryToStore("C:\\VST\\", out, sizeof out), 0);
    EXPECT_STREQ(out, "C:\\VST\\");
    std::string path = "C:\\" + std::string(255, 'v');  // 258 + backslash = 259: fits
    EXPECT_EQ(vstDirectoryToStore(path.c_str(), out, sizeof out), 0);
    path += "v";
    EXPECT_EQ(vstDirectoryToStore(path.c_str(), out, sizeof out), 252);
    EXPECT_EQ(vstDirectoryToStore("", out, sizeof out), 252);
}

TEST(Shell, FrameTitleNamesTheFileWithoutItsLastExtension) {
    char title[200];
    formatFrameTitle(nullptr, nullptr, title, sizeof title);
    EXPECT_STREQ(title, "Quorvane Live 1.21");
    formatFrameTitle("room.qvp", "C:\\p\\room.qvp", title, sizeof title);
    EXPECT_STREQ(title, "Quorvane Live 1.21 (room)");
    formatFrameTitle("live.set.qvp", "C:\\live.set.qvp", title, sizeof title);
    EXPECT_STREQ(title, "Quorvane Live 1.21 (live.set)");
    formatFrameTitle("room", "C:\\p\\room", title, sizeof title);  // no dot: the whole title
    EXPECT_STREQ(title, "Quorvane Live 1.21 (room)");
    formatFrameTitle(nullptr, "C:\\gigs\\set two.qvp", title, sizeof title);  // no display name
    EXPECT_STREQ(title, "Quorvane Live 1.21 (set two)");
    formatFrameTitle("", "", title, sizeof title);
    EXPECT_STREQ(title, "Quorvane Live 1.21");
}

TEST(Shell, CommandLinePathIsTakenWholeAndNeverCut) {
    char path[300];
    EXPECT_EQ(commandLinePath("\"C:\\My Songs\\room.qvp\" ignored", path, sizeof path), 0);
    EXPECT_STREQ(path, "C:\\My Songs\\room.qvp");
    EXPECT_EQ(commandLinePath("C:\\My Songs\\room.qvp", path, sizeof path), 0);  // unquoted: spaces kept
    EXPECT_STREQ(path, "C:\\My Songs\\room.qvp");
    EXPECT_EQ(commandLinePath("  \" \"  ", path, sizeof path), 0);
    EXPECT_STREQ(path, "");
    const std::string fits(259, 'p'), tooLong(260, 'p');
    EXPECT_EQ(commandLinePath(fits.c_str(), path, sizeof path), 0);
    EXPECT_EQ(std::strlen(path), 259u);
    EXPECT_EQ(commandLinePath(("\"" + tooLong + "\"").c_str(), path, sizeof path), 204);
}

TEST(Shell, ReportBoxesNameTheirMessageAndNeverShowABlankNotice) {
    EXPECT_FALSE(describeReport(0, messageText).show);

    ReportBox b = describeReport(185, messageText);
    EXPECT_STREQ(b.caption, "Error #185");
    EXPECT_STREQ(b.text, "Error opening asio device");
    EXPECT_EQ(b.icon, kBoxStopIcon);

    b = describeReport(-136, messageText);
    EXPECT_STREQ(b.caption, "Quorvane Live");
    EXPECT_STREQ(b.text, "You should open an output sound device before starting the live input");
    EXPECT_EQ(b.icon, kBoxInformationIcon);

    b = describeReport(static_cast<int32_t>(0x88780064u), messageText);  // a DirectSound result
    EXPECT_STREQ(b.caption, "Error #139");
    EXPECT_STREQ(b.text, "DirectX: Sound format not supported");

    for (int32_t code : {167, -167, static_cast<int32_t>(0x80040154u), -5001, 70000}) {
        b = describeReport(code, messageText);
        EXPECT_TRUE(b.show);
        EXPECT_EQ(b.icon, kBoxStopIcon) << code;
        EXPECT_EQ(std::string(b.caption), "Error #" + std::to_string(code));
        EXPECT_STREQ(b.text, "Unknown error");
    }

    static std::string longText(900, 'x');
    b = describeReport(300, [](int32_t) { return longText.c_str(); });
    EXPECT_EQ(std::strlen(b.text), kReportTextLimit);
}

}  // namespace

#if defined(_WIN32)
#include <windows.h>

#include "tests/support/modules.h"

namespace {

// The program's string table is generated from the message table; the box
// reporter shows the resource, tools show the table: both must agree.
TEST(ProgramResources, StringTableHoldsExactlyTheMessageTable) {
    const std::string program = stagePath("QuorvaneLive.exe");
    HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << program;
    int compared = 0;
    for (int id = 1; id < 1000; ++id) {
        char text[kReportTextLimit + 1] = "";
        const int length = LoadStringA(module, static_cast<UINT>(id), text, sizeof text);
        const char* expected = messageText(id);
        if (!expected) {
            EXPECT_EQ(length, 0) << id;
            continue;
        }
        EXPECT_STREQ(text, expected) << id;
        ++compared;
    }
    EXPECT_GT(compared, 140);
    FreeLibrary(module);
}

// The windows draw their pictures at fixed places: each must have its size.
TEST(ProgramResources, EveryPictureHasTheSizeItsWindowDrawsIt) {
    const std::string program = stagePath("QuorvaneLive.exe");
    HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << program;
    const struct {
        int id, width, height;
    } pictures[] = {{133, 528, 39}, {134, 166, 16}, {135, 291, 235}, {137, 51, 15}, {138, 228, 235},
                    {139, 64, 64},  {140, 83, 15},  {141, 300, 56},  {144, 528, 39}, {146, 14, 14},
                    {147, 14, 14},  {150, 360, 160}};
    for (const auto& p : pictures) {
        HBITMAP bitmap = static_cast<HBITMAP>(LoadImageA(module, MAKEINTRESOURCEA(p.id), IMAGE_BITMAP, 0, 0, 0));
        ASSERT_NE(bitmap, nullptr) << p.id;
        BITMAP info{};
        ASSERT_NE(GetObjectA(bitmap, sizeof info, &info), 0) << p.id;
        EXPECT_EQ(info.bmWidth, p.width) << p.id;
        EXPECT_EQ(info.bmHeight, p.height) << p.id;
        DeleteObject(bitmap);
    }
    for (int icon : {107, 108}) {
        HICON small = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(icon), IMAGE_ICON, 16, 16, 0));
        HICON large = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(icon), IMAGE_ICON, 32, 32, 0));
        EXPECT_NE(small, nullptr) << icon;
        EXPECT_NE(large, nullptr) << icon;
        if (small) DestroyIcon(small);
        if (large) DestroyIcon(large);
    }
    FreeLibrary(module);
}

}  // namespace
#endif
