// Each effect's editor dialog, in process under a parent window: its
// controls, their ranges and positions for every preset, and a trackbar
// move reaching the saved state exactly as the mapping says.
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <thread>

#include "effects/chorus/resource.h"
#include "effects/frame/controls.h"
#include "tests/effects/effect_fixture.h"
#include "tests/support/popupmenu.h"

namespace {

struct EditorCase {
    const char* name;
    const EditorModel* model;
    int presets;
    // Chunk offset of each parameter (page-major), and which are integers.
    size_t offsets[12];
    bool integer[12];
};

const EditorCase kCases[] = {
    {"reverb", &kReverbEditor, 1, {11, 15, 19, 23}, {true}},
    {"echo", &kEchoEditor, 3, {8, 12, 16, 20, 24}, {true}},
    {"flanger", &kFlangerEditor, 6, {26, 10, 6, 14, 18, 22}, {}},
    {"chorus", &kChorusEditor, 2, {6, 10, 14, 18, 22, 26, 30, 34, 38, 42, 46, 50}, {}},
};

// The requests the editor made of the wrapper, as (context, request, index).
std::vector<std::vector<intptr_t>> requests;
intptr_t EFFECT_CALL recordRequest(intptr_t context, intptr_t request, intptr_t index) {
    requests.push_back({context, request, index});
    return 1;
}

class EffectEditor : public EffectTest, public ::testing::WithParamInterface<EditorCase> {
protected:
    HWND parent = nullptr;
    HWND editor = nullptr;

    void SetUp() override {
        open(GetParam().name);
        parent = CreateWindowExA(0, "STATIC", "parent", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 600, 500, nullptr,
                                 nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, parent);
        int32_t size[2] = {0, 0};
        editor = reinterpret_cast<HWND>(query(PQ_OPEN_EDITOR, reinterpret_cast<intptr_t>(size),
                                              reinterpret_cast<intptr_t>(parent)));
        ASSERT_NE(nullptr, editor);
        EXPECT_EQ(GetParam().model->width, size[0]);
        EXPECT_EQ(GetParam().model->height, size[1]);
    }
    void TearDown() override {
        if (parent) DestroyWindow(parent);
        EffectTest::TearDown();
    }

    double stateValue(int index) {
        std::vector<uint8_t> chunk = state();
        const size_t at = GetParam().offsets[index];
        if (GetParam().integer[index]) {
            uint32_t v;
            std::memcpy(&v, &chunk[at], 4);
            return v;
        }
        return floatAt(chunk, at);
    }
    int position(int id) { return static_cast<int>(SendDlgItemMessageA(editor, id, TBM_GETPOS, 0, 0)); }
    std::string text(int id) {
        char buffer[128] = "";
        GetDlgItemTextA(editor, id, buffer, sizeof buffer);
        return buffer;
    }
    // As a released thumb tells its owner.
    void move(const TrackbarControl& c, int to) {
        HWND bar = GetDlgItem(editor, c.trackbarId);
        SendMessageA(bar, TBM_SETPOS, TRUE, to);
        SendMessageA(editor, c.vertical ? WM_VSCROLL : WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, to),
                     reinterpret_cast<LPARAM>(bar));
    }
    void expectControlsShow(int page) {
        const EditorModel& m = *GetParam().model;
        for (int i = 0; i < m.controlCount; ++i) {
            const TrackbarControl& c = m.controls[i];
            const double value = stateValue(page * m.pageParams + c.param);
            EXPECT_EQ(trackbarPosition(c.toPosition(value)), position(c.trackbarId)) << c.trackbarId;
            char expected[kCaptionSize];
            c.caption(value, expected, sizeof expected);
            EXPECT_EQ(expected, text(c.captionId)) << c.captionId;
        }
    }
};

}  // namespace

TEST_P(EffectEditor, EveryTrackbarIsThereWithTheFullTravel) {
    const EditorModel& m = *GetParam().model;
    for (int i = 0; i < m.controlCount; ++i) {
        HWND bar = GetDlgItem(editor, m.controls[i].trackbarId);
        ASSERT_NE(nullptr, bar) << m.controls[i].trackbarId;
        char cls[64];
        GetClassNameA(bar, cls, sizeof cls);
        EXPECT_STREQ("msctls_trackbar32", cls);
        EXPECT_EQ(0, SendMessageA(bar, TBM_GETRANGEMIN, 0, 0));
        EXPECT_EQ(1000, SendMessageA(bar, TBM_GETRANGEMAX, 0, 0));
        EXPECT_EQ(m.controls[i].vertical, (GetWindowLongA(bar, GWL_STYLE) & TBS_VERT) != 0);
    }
    EXPECT_NE(nullptr, GetDlgItem(editor, 1100));  // the logo
    RECT r;
    GetWindowRect(editor, &r);
    EXPECT_EQ(m.width, r.right - r.left);
}

TEST_P(EffectEditor, EveryPresetIsShownOnTheControls) {
    for (int k = 0; k < GetParam().presets; ++k) {
        ASSERT_EQ(1, query(PQ_SELECT_PRESET, 0, k));
        expectControlsShow(0);
    }
}

TEST_P(EffectEditor, TrackbarMovesReachTheStateAsTheMappingSays) {
    const EditorModel& m = *GetParam().model;
    for (int i = 0; i < m.controlCount; ++i) {
        const TrackbarControl& c = m.controls[i];
        for (int to : {0, 137, 500, 1000}) {
            move(c, to);
            const double expected = GetParam().integer[c.param] ? c.toValue(to) : static_cast<float>(c.toValue(to));
            ASSERT_EQ(expected, stateValue(c.param)) << c.trackbarId << " at " << to;
        }
    }
}

TEST_P(EffectEditor, RefreshAfterALoadKeepsTheKeyboardFocus) {
    const EditorModel& m = *GetParam().model;
    if (m.focusTrackbar) {
        EXPECT_EQ(GetDlgItem(editor, m.focusTrackbar), GetFocus());
    }
    HWND last = GetDlgItem(editor, m.controls[m.controlCount - 1].trackbarId);
    SetFocus(last);
    std::vector<uint8_t> chunk = state();
    query(PQ_SELECT_PRESET, 0, GetParam().presets - 1);
    ASSERT_EQ(1, setState(chunk));
    EXPECT_EQ(last, GetFocus());
    expectControlsShow(0);
}

TEST_P(EffectEditor, ADestroyedEditorIsForgottenAndCanOpenAgain) {
    DestroyWindow(parent);
    parent = nullptr;
    std::vector<uint8_t> chunk = state();
    EXPECT_EQ(1, setState(chunk));  // refreshes nothing, reaches no stale window
    EXPECT_EQ(1, query(PQ_SELECT_PRESET, 0, 0));
    parent = CreateWindowExA(0, "STATIC", "again", WS_OVERLAPPEDWINDOW, 0, 0, 600, 500, nullptr, nullptr, nullptr,
                             nullptr);
    int32_t size[2] = {0, 0};
    EXPECT_NE(0, query(PQ_OPEN_EDITOR, reinterpret_cast<intptr_t>(size), reinterpret_cast<intptr_t>(parent)));
}

// An ASIO driver announces a new rate on its own thread while the UI thread
// may be waiting for that thread (stopping the driver): the refresh must
// not wait for the editor's thread, and still arrives there.
TEST_P(EffectEditor, ARateChangeOnAnotherThreadDoesNotWaitForTheEditorsThread) {
    std::atomic<bool> done{false};
    std::thread other([&] {
        query(PQ_SET_SAMPLE_RATE, 0, 48000);
        done = true;
    });
    for (int i = 0; i < 300 && !done; ++i) Sleep(10);  // no messages taken meanwhile
    EXPECT_TRUE(done.load());
    MSG msg;
    while (!done) PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // let a blocked send through
    other.join();
    query(PQ_SELECT_PRESET, 0, GetParam().presets - 1);
    SetDlgItemTextA(editor, GetParam().model->controls[0].captionId, "stale");
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    expectControlsShow(0);
}

// A right-click on a trackbar offers MIDI learn, and Learn or Forget reach
// the wrapper with the index of the parameter named by the trackbar's label
// (on the chorus's second page, the second voice's); a move that
// changes the value is reported, a repeated release is not. Without a
// wrapper that listens there is no menu and nothing is asked.
TEST_P(EffectEditor, ATrackbarsRightClickAsksForMidiLearnOfItsParameter) {
    const EditorModel& m = *GetParam().model;
    const auto rightClick = [&](const TrackbarControl& c, int choose, DWORD limit = 1500) {
        return popupAfter(GetDlgItem(editor, c.trackbarId), WM_RBUTTONUP, 0, MAKELPARAM(4, 4), choose, limit);
    };
    requests.clear();
    EXPECT_TRUE(rightClick(m.controls[0], -1, 300).empty()) << "no menu while nobody listens";
    move(m.controls[0], 0);
    move(m.controls[0], 1000);
    ASSERT_TRUE(requests.empty());

    requests.clear();
    ASSERT_EQ(1, query(PQ_SET_EDITOR_REQUESTS, reinterpret_cast<intptr_t>(recordRequest), 77));
    const std::vector<std::pair<UINT, std::string>> items{{1, "Learn MIDI Control"}, {2, "Forget MIDI Control"}};
    for (int page = 0; page < m.pageCount; ++page) {
        if (page) SendMessageA(editor, WM_COMMAND, MAKEWPARAM(m.pageButtons[page], BN_CLICKED), 0);
        for (int i = 0; i < m.controlCount; ++i) {
            const TrackbarControl& c = m.controls[i];
            const intptr_t index = page * m.controlCount + i;
            EffectParameter p{};
            ASSERT_EQ(1, query(PQ_GET_PARAM, reinterpret_cast<intptr_t>(&p), index));
            const std::string name = m.pageCount > 1 ? "Source " + std::to_string(page + 1) + " " + c.name : c.name;
            EXPECT_EQ(name, p.name) << c.trackbarId;

            requests.clear();
            EXPECT_EQ(items, rightClick(c, 0)) << c.trackbarId;
            EXPECT_EQ(items, rightClick(c, 1)) << c.trackbarId;
            EXPECT_TRUE(rightClick(c, -1).size() == 2);  // dismissed: nothing asked
            EXPECT_EQ((std::vector<std::vector<intptr_t>>{{77, ER_LEARN_PARAMETER, index},
                                                          {77, ER_FORGET_PARAMETER, index}}),
                      requests)
                << c.trackbarId;

            move(c, 500);
            requests.clear();
            move(c, 1000);
            move(c, 1000);
            EXPECT_EQ((std::vector<std::vector<intptr_t>>{{77, ER_PARAMETER_CHANGED, index}}), requests)
                << c.trackbarId;
        }
    }
    // A right-click beside the trackbars (a caption) opens nothing.
    requests.clear();
    EXPECT_TRUE(popupAfter(GetDlgItem(editor, m.controls[0].captionId), WM_RBUTTONUP, 0, MAKELPARAM(2, 2), 0, 300)
                    .empty());
    EXPECT_TRUE(requests.empty());
    query(PQ_SET_EDITOR_REQUESTS, 0, 0);
}

INSTANTIATE_TEST_SUITE_P(Effects, EffectEditor, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<EditorCase>& info) { return std::string(info.param.name); });

TEST_F(EffectTest, ChorusSourceButtonsChooseTheVoiceTheTrackbarsEdit) {
    open("chorus");
    HWND parent = CreateWindowExA(0, "STATIC", "parent", WS_OVERLAPPEDWINDOW, 0, 0, 600, 500, nullptr, nullptr,
                                  nullptr, nullptr);
    int32_t size[2];
    HWND editor = reinterpret_cast<HWND>(
        query(PQ_OPEN_EDITOR, reinterpret_cast<intptr_t>(size), reinterpret_cast<intptr_t>(parent)));
    ASSERT_NE(nullptr, editor);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(editor, IDC_CHORUS_SOURCE1));
    const std::vector<uint8_t> before = state();
    SendMessageA(editor, WM_COMMAND, MAKEWPARAM(IDC_CHORUS_SOURCE2, BN_CLICKED), 0);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(editor, IDC_CHORUS_SOURCE2));
    // Voice 2's delay (30 ms in the default preset) is now on the trackbar.
    EXPECT_EQ(trackbarPosition((30.0 - 5) * 1000 / 35),
              SendDlgItemMessageA(editor, IDC_CHORUS_DELAY, TBM_GETPOS, 0, 0));
    HWND bar = GetDlgItem(editor, IDC_CHORUS_DELAY);
    SendMessageA(bar, TBM_SETPOS, TRUE, 1000);
    SendMessageA(editor, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 1000), reinterpret_cast<LPARAM>(bar));
    const std::vector<uint8_t> after = state();
    EXPECT_EQ(floatAt(before, 26), floatAt(after, 26));  // voice 1's delay untouched
    EXPECT_EQ(40.0f, floatAt(after, 50));
    DestroyWindow(parent);
}
