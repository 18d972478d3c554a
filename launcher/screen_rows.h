#pragma once
// The rows of the installer's right-hand panel: the installation choices of
// the setup phase and the post-install choices of a finished single-file
// installation, their drawing, and the selection by keyboard, mouse and
// gamepad. Rows are rebuilt from g_inst on every frame; the only state they
// change is g_inst.selected, g_inst.mouseMode and the toggled options.
#include <initializer_list>
#include <string>
#include <vector>

#include "imgui.h"
#include "runtime/settings/options.h"

// True when the installer speaks Portuguese.
bool Pt();
// The shown language's half of a text pair.
const char* T(const settings::options::Text& text);

enum RowId : int {
    RowGame = 1,
    RowGameStatus = 2,
    RowPrereqs = 3,
    RowSubtitles = 4,
    RowRemaster = 5,
    RowAssets = 6,
    RowCopy = 7,
    RowToolchain = 8,
    RowInstallDir = 9,
    RowGpu = 10,
    RowSpace = 11,
    RowDesktop = 12,
    RowStartMenu = 13,
    RowInstalledIn = 14,
};

struct InstallRow {
    settings::options::Text label{"", ""};
    std::string value;        // shown language; empty for a header
    std::string help[2];      // shown language
    bool header = false;      // never selectable
    bool enabled = false;     // selectable with the keys and activatable
    bool plainHelp = false;   // help line 0 is plain data (interface font); hover-selectable
    int id = 0;               // a RowId, 0 for a header
};

// "ON"/"OFF" in the shown language.
std::string OnOff(bool on);
// "YES"/"NO" in the shown language.
std::string YesNo(bool yes);

// The rows of the setup phase.
std::vector<InstallRow> InstallRows();
// The video-card row (single-file mode).
InstallRow GpuRow();
// The rows after a finished single-file installation.
std::vector<InstallRow> DoneRows();
// Input and drawing of a row list inside the installer window; `allowInstall`
// enables F5 / the gamepad's Start button.
void DrawRows(const std::vector<InstallRow>& rows, bool allowInstall);
// The action of a row.
void ActivateRow(int id);
// Any of `keys` pressed in this frame (with key repeat when `repeat`).
bool KeyPressed(std::initializer_list<ImGuiKey> keys, bool repeat);
