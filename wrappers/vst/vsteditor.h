// The VST wrapper's editor windows, as far as they can be computed without
// a window: the program menu's items and texts, the generic parameter
// editor's layout, hit-test and drag arithmetic, and the frame's size.
// Tested natively; vsteditor_win32.cpp draws and routes messages with them.
//
// The second half declares what the window layer does for the wrapper
// (vsteditor_win32.cpp on Windows; vsteditor_headless.cpp elsewhere, where
// there are no windows to show).
#pragma once

#include <cstddef>
#include <cstdint>

#include "wrappers/vst/vst2abi.h"

// ---- the program menu ----

constexpr int32_t kProgramCurrentCommand = 106;  // the current program's item
constexpr int32_t kProgramFirstCommand = 1112;   // program k is 1112 + k
// A menu command is 16 bits wide: programs beyond this are not offered.
constexpr int32_t kProgramMenuMaxPrograms = 0xFFFF - kProgramFirstCommand + 1;
constexpr size_t kProgramNameSize = 64;  // a name with its terminator
// A menu text: every "&" of a name doubled, so none becomes a mnemonic.
constexpr size_t kProgramMenuTextSize = 2 * (kProgramNameSize - 1) + 1;

struct ProgramItem {
    int32_t program;
    char name[kProgramNameSize];
};

// The menu's items in order: the current program's name (kept from
// creation), a separator, then each distinct program name once.
struct ProgramMenu {
    char title[kProgramNameSize];
    ProgramItem* items;  // capacity entries, count used; owned by the wrapper
    int32_t count;
    int32_t capacity;
};

// How many programs the menu asks about for an effect announcing `programs`
// (a negative or absurd count asks about none).
int32_t programMenuLimit(int32_t programs);

// Copies at most 63 characters of an effect's answer, which need not be
// terminated within `size` bytes; an empty answer gives "".
void programNameFrom(const char* answer, size_t size, char out[kProgramNameSize]);

// The title of the menu: the effect's current program name, or "Default".
void programMenuSetTitle(ProgramMenu& menu, const char* answer, size_t size);

// Adds program k under its name unless the name is empty, already listed,
// k is outside the menu's command range, or the table is full. True when added.
bool programMenuAdd(ProgramMenu& menu, int32_t k, const char* answer, size_t size);

// The text a menu shows for a name: "&" doubled, always terminated.
void programMenuText(const char* name, char* out, size_t size);

struct ProgramChoice {
    enum Kind { None, Current, Program } kind;
    int32_t program;  // for Program
};

// What a menu command means; only commands the menu holds are acted on.
ProgramChoice programMenuCommand(const ProgramMenu& menu, int32_t command);

// ---- the generic parameter editor ----

struct EditorSize {
    int32_t width, height;
};

constexpr int32_t kProgramStripWidth = 15;  // the frame's left strip with the button
constexpr int32_t kProgramButtonX = 2, kProgramButtonY = 2;
constexpr int32_t kProgramButtonWidth = 11, kProgramButtonHeight = 20;
constexpr int32_t kRowTop = 30, kRowHeight = 17;
constexpr int32_t kBarLeft = 258, kBarRight = 338, kBarSpan = 78;
constexpr int32_t kHitRight = 328;  // the drag starts left of here
constexpr size_t kParameterTextMax = 31;
constexpr int32_t kEditorMaxSide = 4096;  // an effect's editor larger than this is taken as damage

// The generic editor's size for `parameters` rows (360 wide).
EditorSize genericEditorSize(int32_t parameters);

// The size of an effect's own editor from its get-rect answer; false (the
// generic size stays) for no rectangle or one with a side <= 0 or > 4096.
bool editorSizeFromRect(const Vst2Rect* rect, EditorSize& out);
bool plausibleEditorSize(int32_t width, int32_t height);

int32_t parameterRowTop(int32_t row);
// How many rows, from the first, the generic editor draws in a client
// `height` pixels high: only those that show, however many parameters an
// effect announces.
int32_t parameterRowsShown(int32_t parameters, int32_t height);
// Whether the program button's corner holds the point (frame client coordinates).
bool programButtonHit(int32_t x, int32_t y);
// The row whose value bar holds the point, -1 for none.
int32_t parameterBarHit(int32_t x, int32_t y, int32_t parameters);
// The right edge of a bar's red part for a value (clamped to 0..1).
int32_t parameterBarFillRight(float value);
// The value after the mouse moved dx pixels during a drag: 0.01 a pixel, 0..1.
float parameterDragValue(float value, int32_t dx);

// The drag of a generic editor. It belongs to the window that holds the
// mouse capture: messages of any other window leave it alone.
struct ParameterDrag {
    const void* window;  // null: no drag
    int32_t row;
    int32_t lastX;
    int32_t screenX, screenY;  // where the cursor goes back to
};

// Starts a drag when (x, y) is on a bar; true when it started.
bool parameterDragBegin(ParameterDrag& drag, const void* window, int32_t x, int32_t y, int32_t parameters,
                        int32_t screenX, int32_t screenY);
// A mouse move: true when the dragged value changed, with the row and the
// new value. A row outside the cache (it shrank) ends the drag.
bool parameterDragMove(ParameterDrag& drag, const void* window, int32_t x, const float* cache, int32_t parameters,
                       int32_t& row, float& value);
// Ends the window's drag; true when it had one.
bool parameterDragEnd(ParameterDrag& drag, const void* window);

// ---- the frame ----

// What the frame's borders and caption add to its client area.
struct FrameInsets {
    int32_t left, top, right, bottom;
};

// The frame for an editor of `client` size: the 15-pixel strip beside it.
EditorSize editorFrameSize(const FrameInsets& insets, EditorSize client);

// ---- the window layer, for the wrapper ----

struct VstInstance;

// WD_OPEN: registers the window classes and makes the fonts, brushes and
// the button image; false when a class cannot be registered.
bool editorWindowsOpen();
// WD_CLOSE, after every instance is gone: releases what editorWindowsOpen made.
void editorWindowsClose();
// WD_SHOW_EDITOR: activates or creates the instance's frame. 1/0.
intptr_t editorShow(VstInstance* instance, void* mdiClient);
// WD_CLOSE_EDITOR: destroys the frame if open.
void editorClose(VstInstance* instance);
// The instance goes or gets another effect: closes the frame and destroys
// the popup menu built from the old program list.
void editorForget(VstInstance* instance);
// The effect asked for another editor size (host callback 15), on any
// thread. 1 when the open frame is (or will be) resized.
intptr_t editorSizeWindow(VstInstance* instance, int32_t width, int32_t height);
