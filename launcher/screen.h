#pragma once
// The installer's whole screen, drawn once per frame by the frame loop between
// ImGui::NewFrame and ImGui::Render: it advances the installer state and
// composes the page on the virtual screen.
void DrawInstallerContents();
