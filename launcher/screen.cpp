// The installer screen: the frame function, the left column with the logo and
// the menu of the current phase, the right-hand panel of each phase and the
// in-window message dialog.
#include "launcher/screen.h"

#include <vector>

#include "imgui.h"
#include "imgui_internal.h"
#include "launcher/install_sequence.h"
#include "launcher/installer.h"
#include "launcher/installer_payload.h"
#include "launcher/prereq.h"
#include "launcher/screen_draw.h"
#include "launcher/screen_progress.h"
#include "launcher/screen_rows.h"
#include "launcher/screen_shots.h"
#include "launcher/setup_script.h"
#include "launcher/shortcuts.h"
#include "launcher/ui_fonts.h"
#include "launcher/window.h"
#include "runtime/paths.h"

using settings::options::Text;

Modal g_modal = Modal::None;
std::string g_message[2];

namespace {

// One action of the left menu.
struct Entry {
    Text text;
    int id;
    bool enabled;
};

enum Action : int {
    ActInstall = 0,
    ActCancel = 1,
    ActPlay = 2,
    ActExit = 3,
    ActOpenFolder = 4,
    ActTryAgain = 5,
    ActOpenLog = 6,
    ActAssetsRetry = 7,
    ActFinish = 8,
};

constexpr float LEFT_CENTRE = 236.0f;
constexpr float MENU_TOP = 384.0f;
const ImU32 DIM = IM_COL32(10, 4, 0, 150);
const ImU32 BOTTOM_LINE = IM_COL32(255, 245, 220, 235);
const ImU32 BOTTOM_NOTE = IM_COL32(255, 245, 220, 180);
// The game font's confirm-button icon.
constexpr char32_t CONFIRM_ICON = ICON_CODE_BASE + 177;

// The click that dismissed the dialog is still held.
bool g_clickHeld = false;

std::vector<Entry> MenuEntries() {
    switch (g_inst.phase) {
    case Phase::Setup:
        return {{{"INSTALL", "INSTALAR"}, ActInstall, CanInstall()}, {{"EXIT", "SAIR"}, ActExit, true}};
    case Phase::Running:
        return {{{"CANCEL", "CANCELAR"}, ActCancel, true}};
    case Phase::Done:
        if (g_inst.bundle) return {{{"PLAY", "JOGAR"}, ActPlay, true}, {{"FINISH", "CONCLUIR"}, ActFinish, true}};
        return {{{"PLAY", "JOGAR"}, ActPlay, true},
                {{"OPEN FOLDER", "ABRIR PASTA"}, ActOpenFolder, true},
                {{"EXIT", "SAIR"}, ActExit, true}};
    case Phase::Failed:
        if (AssetsOnlyFailed()) {
            return {{{"TRY AGAIN", "TENTAR DE NOVO"}, ActAssetsRetry, true},
                    {{"PLAY", "JOGAR"}, ActPlay, true},
                    {{"OPEN LOG", "ABRIR LOG"}, ActOpenLog, true},
                    {{"EXIT", "SAIR"}, ActExit, true}};
        }
        return {{{"TRY AGAIN", "TENTAR DE NOVO"}, ActTryAgain, true},
                {{"OPEN LOG", "ABRIR LOG"}, ActOpenLog, true},
                {{"EXIT", "SAIR"}, ActExit, true}};
    }
    return {};
}

void PerformAction(int id) {
    switch (id) {
    case ActInstall:
        StartInstall(false);
        break;
    case ActCancel:
        CancelInstall();
        break;
    case ActPlay:
        OpenLauncher();
        break;
    case ActExit:
        g_quit = true;
        break;
    case ActOpenFolder:
        OpenFolder(PlayDir());
        break;
    case ActTryAgain:
        g_inst.phase = Phase::Setup;
        CheckPrerequisites();
        break;
    case ActOpenLog:
        OpenWithDesktop(SetupLog());
        break;
    case ActAssetsRetry:
        StartInstall(true);
        break;
    case ActFinish:
        ApplyShortcuts();
        g_quit = true;
        break;
    default:
        break;
    }
}

void DrawMenu() {
    const bool dialogOpen = g_modal != Modal::None;
    const bool blocked = PointerBlocked();
    ImGui::PushItemFlag(ImGuiItemFlags_NoNav, true);
    float my = MENU_TOP;
    bool first = true;
    for (const Entry& entry : MenuEntries()) {
        const float size = first ? 54.0f : 42.0f;
        first = false;
        const std::string text = T(entry.text);
        const float width = TextWidth(1, text, size);
        ImGui::PushID(entry.id);
        ImGui::SetCursorScreenPos(g_view.P(LEFT_CENTRE - width / 2.0f - 20.0f, my - 4.0f));
        const bool pressed =
            ImGui::InvisibleButton("menu", ImVec2((width + 40.0f) * g_view.s, (size + 8.0f) * g_view.s));
        const bool hovered = ImGui::IsItemHovered();
        ImGui::PopID();
        const Style& style = !entry.enabled ? INFO : (hovered && !dialogOpen ? MENU_SELECTED : MENU);
        Draw(1, text, LEFT_CENTRE, my, size, style, 0.5f, 1e9f);
        if (pressed && entry.enabled && !blocked) PerformAction(entry.id);
        my += size + 18.0f;
    }
    ImGui::PopItemFlag();
}

void DrawPanel() {
    switch (g_inst.phase) {
    case Phase::Setup:
        DrawPanelTitle(T({"INSTALLATION", "INSTALAÇÃO"}));
        DrawRows(InstallRows(), true);
        break;
    case Phase::Running:
        DrawPanelTitle(T({"INSTALLING...", "INSTALANDO..."}));
        DrawProgress();
        break;
    case Phase::Done:
        DrawPanelTitle(T({"INSTALLED", "INSTALADO"}));
        if (g_inst.bundle) {
            DrawRows(DoneRows(), false);
            Draw(1, T({"READY!", "PRONTO!"}), 859.0f, 656.0f, 40.0f, GOLD, 0.5f, 1e9f);
        } else {
            DrawProgress();
        }
        break;
    case Phase::Failed:
        DrawPanelTitle(AssetsOnlyFailed() ? T({"THE GAME IS READY", "O JOGO ESTÁ PRONTO"})
                                          : T({"SOMETHING WENT WRONG", "ALGO DEU ERRADO"}));
        DrawProgress();
        break;
    }
}

void MessageHook(const std::string& line0, const std::string& line1) { OpenMessage(line0, line1); }

void QuitHook() { g_quit = true; }

} // namespace

bool PointerBlocked() { return g_modal != Modal::None || g_clickHeld; }

void OpenMessage(const std::string& line0, const std::string& line1) {
    g_message[0] = line0;
    g_message[1] = line1;
    g_modal = Modal::Message;
}

void InstallScreenHooks() {
    InstallerUi ui;
    ui.message = MessageHook;
    ui.quit = QuitHook;
    SetInstallerUi(ui);
}

void DrawInstallerLeft() {
    float y = 184.0f;
    if (g_logo.view && g_logo.w > 0) {
        const float logoH = static_cast<float>(g_logo.h) * 404.0f / static_cast<float>(g_logo.w);
        g_draw->AddImage(g_logo.Id(), g_view.P(34.0f, 34.0f), g_view.P(438.0f, 34.0f + logoH));
        y = 34.0f + logoH - 6.0f;
    } else {
        Draw(1, "VELKOR OF THE OMBRAX", LEFT_CENTRE, 124.0f, 46.0f, TITLE, 0.5f, 420.0f);
    }
    Draw(1, "LUMENFALL", LEFT_CENTRE, y, 38.0f, GOLD, 0.5f, 420.0f);

    DrawMenu();

    if (g_inst.bundle) {
        std::string line = T({"Installer", "Instalador"});
        if (!g_payload.tag.empty()) line += " " + g_payload.tag;
        line += T({": builds the game from your own copy", ": monta o jogo a partir da sua cópia"});
        DrawUi(line, LEFT_CENTRE, 650.0f, 17.0f, BOTTOM_LINE, 0.5f, 430.0f);
        DrawUi(T({"Everything included: nothing else to install", "Tudo incluído: nada mais para instalar"}),
               LEFT_CENTRE, 674.0f, 15.0f, BOTTOM_NOTE, 0.5f, 430.0f);
    } else {
        DrawUi(T({"Installer: builds the game from your own copy", "Instalador: monta o jogo a partir da sua cópia"}),
               LEFT_CENTRE, 650.0f, 17.0f, BOTTOM_LINE, 0.5f, 430.0f);
        DrawUi(paths::ExeDir().u8string(), LEFT_CENTRE, 674.0f, 15.0f, BOTTOM_NOTE, 0.5f, 430.0f);
    }
}

void DrawModal() {
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    g_draw->AddRectFilled(ImVec2(0.0f, 0.0f), display, DIM);
    DrawFrame(300.0f, 250.0f, 980.0f, 470.0f);
    Draw(0, g_message[0], 640.0f, 296.0f, 30.0f, HELP, 0.5f, 600.0f);
    Draw(0, g_message[1], 640.0f, 340.0f, 28.0f, HELP, 0.5f, 600.0f);
    const float x = Icon(CONFIRM_ICON, 600.0f, 400.0f, 32.0f) + 8.0f;
    Draw(0, "OK", x, 402.0f, 30.0f, SELECTED, 0.0f, 1e9f);
    const bool clicked = ImGui::IsMouseClicked(ImGuiMouseButton_Left);
    if (KeyPressed({ImGuiKey_GamepadFaceDown, ImGuiKey_GamepadFaceRight, ImGuiKey_Enter, ImGuiKey_KeypadEnter,
                    ImGuiKey_Escape},
                   false) ||
        clicked) {
        g_modal = Modal::None;
        g_clickHeld = clicked;
    }
}

void DrawInstallerContents() {
    InstallScreenHooks();
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    g_view = ViewFor(display.x, display.y);

    UpdateInstaller();
    const UnattendedResult unattended = UpdateUnattended(g_modal == Modal::Message, !InstallerShotsDone());
    if (unattended.closeMessage) g_modal = Modal::None;
    if (unattended.quit) g_quit = true;

    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
    ImGui::SetNextWindowSize(display);
    ImGui::Begin("installer", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoBackground |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus |
                     ImGuiWindowFlags_NoNav);
    g_draw = ImGui::GetWindowDrawList();

    if (g_backdrop.view) {
        ImGui::GetBackgroundDrawList()->AddImage(g_backdrop.Id(), ImVec2(0.0f, 0.0f), display, ImVec2(0.0f, 0.0f),
                                                 ImVec2(1.0f, 1.0f), IM_COL32_WHITE);
    }
    DrawFrame(462.0f, 84.0f, 1256.0f, 642.0f);
    DrawInstallerLeft();
    DrawPanel();

    if (g_modal == Modal::Message) {
        g_draw = ImGui::GetForegroundDrawList();
        DrawModal();
    }
    ImGui::End();
    // Rows and menu have seen this frame's release of a dismissing click.
    if (g_clickHeld && !ImGui::IsMouseDown(ImGuiMouseButton_Left)) g_clickHeld = false;

    TakeShots();
}
