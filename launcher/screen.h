#pragma once
// The installer's whole screen, drawn once per frame by the frame loop between
// ImGui::NewFrame and ImGui::Render: it advances the installer state, applies
// the unattended rules and composes the page on the virtual screen: backdrop,
// logo and menu on the left, the framed panel of the current phase on the
// right, and the in-window message dialog on top.
#include <string>

// Whether the in-window message dialog is open.
enum class Modal { None, Message };

extern Modal g_modal;
// The dialog's two lines, already in the shown language. Set both, then set
// g_modal to Modal::Message.
extern std::string g_message[2];

// True while clicks must not reach the rows and the menu: the dialog is open,
// or the mouse button that dismissed it is still held (its release would
// otherwise press whatever lies under the pointer).
bool PointerBlocked();

// Opens the message dialog with two lines (the engine reaches it through
// ShowMessage once the screen's hooks are installed).
void OpenMessage(const std::string& line0, const std::string& line1);
// Connects the engine's message and quit requests to the dialog and to the
// frame loop's quit flag. DrawInstallerContents does it on every frame; the
// frame loop may call it earlier so that start-up messages are shown too.
void InstallScreenHooks();

// The frame function.
void DrawInstallerContents();
// The left column: logo, title, the menu of the current phase, bottom lines.
void DrawInstallerLeft();
// The message dialog over the whole window.
void DrawModal();
