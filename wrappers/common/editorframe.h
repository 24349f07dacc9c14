// The editor frame the plug-in wrappers share: an MDI child of the host's
// client with the program button in a strip on its left and, beside it, a
// client that holds either the plug-in's own editor or the generic
// parameter editor (a row per parameter with a draggable value bar).
//
// The first half is what can be computed without a window: the program
// menu's items and texts, the generic editor's layout, hit-tests and drag
// arithmetic, and the frame's size. Tested natively.
//
// The second half declares the window layer (editorframe_win32.cpp on
// Windows; editorframe_none.cpp elsewhere, where no editor can be shown).
// A wrapper describes its plug-in to it through an EditorFrame record and a
// table of EditorCalls.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "host/wrapperprotocol.h"

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

// How many programs the menu asks about for a plug-in announcing `programs`
// (a negative or absurd count asks about none).
int32_t programMenuLimit(int32_t programs);

// Copies at most 63 characters of a plug-in's answer, which need not be
// terminated within `size` bytes; an empty answer gives "".
void programNameFrom(const char* answer, size_t size, char out[kProgramNameSize]);

// The title of the menu: the plug-in's current program name, or "Default".
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
constexpr int32_t kEditorMaxSide = 4096;  // a plug-in's editor larger than this is taken as damage

// The generic editor's size for `parameters` rows (360 wide).
EditorSize genericEditorSize(int32_t parameters);

bool plausibleEditorSize(int32_t width, int32_t height);

int32_t parameterRowTop(int32_t row);
// How many rows, from the first, the generic editor draws in a client
// `height` pixels high: only those that show, however many parameters a
// plug-in announces.
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

// The generic editor's row menu (a right-click on a parameter's row): MIDI
// learn for that parameter, which the host does.
constexpr int32_t kLearnCommand = 1100, kForgetCommand = 1101;  // below the program commands
struct ParameterMenuItem {
    int32_t command;
    const char* text;
};
constexpr ParameterMenuItem kParameterMenuItems[] = {{kLearnCommand, "Learn MIDI Control"},
                                                     {kForgetCommand, "Forget MIDI Control"}};
// The row a right-click at (x, y) of the generic editor's client opens the
// menu for: anywhere on the row, from its name to the end of its bar; -1
// elsewhere (the heading, below the last row, right of the bars).
int32_t parameterMenuRow(int32_t x, int32_t y, int32_t parameters);
// The host request a command of that menu makes (HC_LEARN_PARAMETER,
// HC_FORGET_PARAMETER); 0 for any other command (the menu was dismissed).
intptr_t parameterMenuRequest(int32_t command);

// ---- requests to the host ----

struct EditorFrame;

// The wrapper module's host callback, which the frame's requests go
// through (each wrapper module has its own frame code and so its own).
void editorSetHost(HostCallbackFn host);
// Tells the host `opcode` (HC_PARAMETER_CHANGED, HC_LEARN_PARAMETER,
// HC_FORGET_PARAMETER) about parameter `index` of the editor's instance:
// a1 is the owner, which is the instance's handle in every wrapper. 0
// without a host. UI thread only: the host's answers touch its windows.
intptr_t editorHostRequest(const EditorFrame& editor, intptr_t opcode, int32_t index);

// ---- the frame ----

// What the frame's borders and caption add to its client area.
struct FrameInsets {
    int32_t left, top, right, bottom;
};

// The frame for an editor of `client` size: the 15-pixel strip beside it.
EditorSize editorFrameSize(const FrameInsets& insets, EditorSize client);

// The editor's size for a frame client of `width` x `height` (the user
// resized the frame): the strip taken off, never below 1 x 1.
EditorSize editorSizeInFrame(int32_t width, int32_t height);

// ---- the window layer, for the wrappers ----

struct EditorFrame;

// What the frame asks of the wrapper's plug-in; UI thread. Entries a
// plug-in format has no use for may be null.
struct EditorCalls {
    // The generic editor's three texts for parameter `index`, each at most
    // kParameterTextMax characters.
    void (*parameterTexts)(EditorFrame& editor, int32_t index, char name[kParameterTextMax + 1],
                           char display[kParameterTextMax + 1], char label[kParameterTextMax + 1]);
    // The user dragged parameter `index` to `value` (0..1).
    void (*setParameter)(EditorFrame& editor, int32_t index, float value);
    // The menu's choice: `editor.currentProgram` is the program to select
    // (the current one again for the title's item).
    void (*selectProgram)(EditorFrame& editor);
    // The plug-in's own editor, opened into `parent`: 1 when open (`size`
    // set to its size, `editor.resizable` when the user may resize it), 0
    // when the plug-in has none (the generic editor is shown), -1 when it
    // failed (no frame is shown).
    int32_t (*openView)(EditorFrame& editor, void* parent, EditorSize& size);
    // Closes the own editor; called exactly once for each open.
    void (*closeView)(EditorFrame& editor);
    // Every 100 ms while the own editor is open.
    void (*idleView)(EditorFrame& editor);
    // The frame is painted while the own editor is open.
    void (*paintView)(EditorFrame& editor);
    // The user resized a resizable frame: `size` in, the size the view
    // takes out (it has been told). False leaves the client as it was.
    bool (*resizeView)(EditorFrame& editor, EditorSize& size);
};

// The window classes and pictures of one wrapper module.
struct EditorClasses {
    const char* frameClass;
    const char* clientClass;
    int32_t buttonBitmap;  // resource ids in the wrapper's module
    int32_t smallIcon;
};

// One instance's editor. The wrapper owns the menu's items and the
// parameter cache and keeps them current; the window layer owns the rest.
struct EditorFrame {
    // The frame (an MDI child) and its client; null while closed. The
    // audio thread may read the frame to post a resize to it.
    std::atomic<void*> frame;
    void* client;
    int32_t x, y;  // the frame's last position in the MDI client; kEditorDefaultPosition at first
    ProgramMenu menu;    // the program list the popup is built from
    void* programPopup;  // the popup menu, built when first needed
    int32_t currentProgram;
    bool programMenu;    // the strip's button offers the menu
    float* parameters;  // cache, one per parameter, for the generic editor
    int32_t parameterCount;
    bool viewOpen;   // the plug-in's own editor is in the client
    bool resizable;  // the user may resize the frame (the view can follow)
    bool resizing;   // the layer is sizing the frame itself
    const EditorCalls* calls;
    void* owner;  // the wrapper's instance
};

constexpr int32_t kEditorDefaultPosition = static_cast<int32_t>(0x80000000u);

// A closed editor for `owner` with no menu and no parameters.
void editorFrameInit(EditorFrame& editor, const EditorCalls* calls, void* owner);

// WD_OPEN: registers the window classes and makes the fonts, brushes and
// the button image; false when a class cannot be registered.
bool editorWindowsOpen(const EditorClasses& classes);
// WD_CLOSE, after every instance is gone: releases what editorWindowsOpen made.
void editorWindowsClose();
// WD_SHOW_EDITOR: activates or creates the frame, captioned `title`. 1/0.
intptr_t editorShow(EditorFrame& editor, const char* title, void* mdiClient);
// WD_CLOSE_EDITOR: destroys the frame if open.
void editorClose(EditorFrame& editor);
// The instance goes or gets another plug-in: closes the frame and destroys
// the popup menu built from the old program list.
void editorForget(EditorFrame& editor);
// The plug-in asked for another editor size, on any thread. 1 when the
// open frame is (or will be) resized.
intptr_t editorSizeWindow(EditorFrame& editor, int32_t width, int32_t height);
// Draws the generic editor again (its values changed underneath).
void editorRepaint(EditorFrame& editor);
// Whether a plug-in made a window in the client `parent` (some make their
// editor and still answer that they did not).
bool editorClientHasChild(void* parent);

// A service the wrapper runs on the UI thread every few milliseconds while
// it is open (plug-ins' timers and requests); the native build has no
// message loop to run it, and its tests call the service themselves.
void editorServiceStart(void (*service)());
void editorServiceStop();
