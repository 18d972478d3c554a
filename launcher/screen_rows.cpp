// The installer rows: what each row says in both languages, how the list is
// drawn, how the selection follows keys, mouse and gamepad, and what
// activating a row does.
#include "launcher/screen_rows.h"

#include <algorithm>
#include <mutex>

#include "launcher/dump.h"
#include "launcher/install_dir.h"
#include "launcher/install_sequence.h"
#include "launcher/installer.h"
#include "launcher/launcher.h"
#include "launcher/prereq.h"
#include "launcher/screen.h"
#include "launcher/screen_draw.h"
#include "launcher/setup_script.h"
#include "launcher/shortcuts.h"
#include "launcher/window.h"
#include "runtime/paths.h"
#include "runtime/settings/gpu_vendor.h"

namespace fs = std::filesystem;
using settings::options::Text;

namespace {

// Row geometry (virtual units).
constexpr float ROW_TOP = 119.0f;
constexpr float ROW_PITCH = 44.0f;
constexpr float LABEL_RIGHT = 840.0f;
constexpr float VALUE_LEFT = 866.0f;
constexpr float CENTRE = 859.0f;

const ImU32 HEADER_LINE = IM_COL32(214, 120, 14, 140);
const ImU32 HELP_LINE = IM_COL32(236, 222, 190, 70);

std::string Tx(const char* en, const char* pt) { return Pt() ? pt : en; }

InstallRow Header(const Text& label) {
    InstallRow row;
    row.label = label;
    row.header = true;
    return row;
}

InstallRow Option(const Text& label, bool on, int id, const Text& help0, const Text& help1) {
    InstallRow row;
    row.label = label;
    row.value = OnOff(on);
    row.help[0] = T(help0);
    row.help[1] = T(help1);
    row.enabled = true;
    row.id = id;
    return row;
}

InstallRow InstallDirRow() {
    InstallRow row;
    row.label = {"INSTALL TO", "INSTALAR EM"};
    row.value = Tx("CHANGE...", "TROCAR...");
    row.help[0] = g_inst.installDir.u8string();
    row.help[1] = Tx("Any folder or drive of yours. Your saves stay in its userdata folder.",
                     "Qualquer pasta ou disco seu. Seus saves ficam na pasta userdata dela.");
    row.enabled = true;
    row.plainHelp = true;
    row.id = RowInstallDir;
    return row;
}

InstallRow GameRow(const fs::path& game) {
    InstallRow row;
    row.label = {"GAME FOLDER", "PASTA DO JOGO"};
    row.value = game.empty() ? Tx("CHOOSE...", "ESCOLHER...") : Tx("CHANGE...", "TROCAR...");
    row.help[0] = game.empty() ? Tx("The folder of your Velkor of the Ombrax (Xbox 360) dump:",
                                    "A pasta do seu Velkor of the Ombrax (Xbox 360):")
                               : game.u8string();
    row.help[1] = Tx("default.xex, default.rcf, english.rcf, sound1.rcf... It is never changed.",
                     "default.xex, default.rcf, english.rcf, sound1.rcf... Ela nunca é alterada.");
    row.enabled = true;
    row.plainHelp = !game.empty();
    row.id = RowGame;
    return row;
}

InstallRow GameStatusRow(const fs::path& game) {
    DumpProblem dump;
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        dump = g_inst.dump;
    }
    const bool gameFolder = !game.empty() && paths::IsGameFolder(game);
    InstallRow row;
    row.label = {"GAME", "JOGO"};
    row.plainHelp = true;
    row.id = RowGameStatus;
    if (gameFolder && dump.Ok()) {
        row.value = Tx("COMPATIBLE", "COMPATÍVEL");
        row.help[0] = Tx("Velkor of the Ombrax (Xbox 360), the default.xex this port is made for.",
                         "Velkor of the Ombrax (Xbox 360), o default.xex para o qual o port é feito.");
        row.help[1] = Tx("It is recompiled on this PC. No game file is downloaded.",
                         "Ele é recompilado neste PC. Nenhum arquivo do jogo é baixado.");
    } else {
        row.value = gameFolder ? Tx("NOT COMPATIBLE", "INCOMPATÍVEL") : Tx("NOT FOUND", "NÃO ENCONTRADO");
        const auto& lines = Pt() ? dump.pt : dump.en;
        row.help[0] = lines[0];
        row.help[1] = lines[1];
    }
    return row;
}

InstallRow SpaceRow() {
    const uint64_t need = RequiredBytes();
    const uint64_t free = FreeBytes(g_inst.installDir);
    const std::string needText = SizeText(need);
    const std::string freeText = SizeText(free);
    InstallRow row;
    row.label = {"DISK SPACE", "ESPAÇO EM DISCO"};
    row.value = Pt() ? needText + " (LIVRE " + freeText + ")" : needText + " (" + freeText + " FREE)";
    row.help[0] = Tx("Needed with these options: ", "Necessário com estas opções: ") + needText +
                  Tx("; free on that drive: ", "; livre nesse disco: ") + freeText + ".";
    row.help[1] = free < need ? Tx("Not enough: choose another drive or fewer options.",
                                   "Não cabe: escolha outro disco ou menos opções.")
                              : Tx("The compiler, Python, CMake and the libraries come inside the installer.",
                                   "O compilador, o Python, o CMake e as bibliotecas vêm dentro do instalador.");
    row.plainHelp = true;
    row.id = RowSpace;
    return row;
}

InstallRow PrereqsRow() {
    InstallRow row;
    row.label = {"PREREQUISITES", "PRÉ-REQUISITOS"};
    row.enabled = true;
    row.plainHelp = true;
    row.id = RowPrereqs;

    std::lock_guard<std::mutex> lock(g_inst.mutex);
    const int missing = MissingCount();
    const std::string packages = MissingPackages();
    const bool included = g_inst.toolchain != "msvc";
    if (g_inst.checking || !g_inst.checked) {
        row.value = Tx("CHECKING...", "VERIFICANDO...");
    } else if (missing > 0) {
        row.value = Tx("MISSING ", "FALTAM ") + std::to_string(missing) + Tx(" (INSTALL)", " (INSTALAR)");
    } else {
        row.value = included ? Tx("INCLUDED", "INCLUÍDOS") : Tx("ALL READY", "TUDO PRONTO");
    }
    std::string present;
    std::string absent;
    for (const Prereq& item : g_inst.prereqs) {
        std::string& list = item.ok ? present : absent;
        if (!list.empty()) list += ", ";
        list += item.name;
    }
    if (!absent.empty()) {
        row.help[1] = Tx("Missing: ", "Faltam: ") + absent +
                      (included ? Tx(". The release zip has them; click to download them (tools\\toolchain.py).",
                                     ". O zip da release os traz; clique para baixá-los (tools\\toolchain.py).")
                                : Tx(". Click to install with winget, then click again to check.",
                                     ". Clique para instalar pelo winget e depois de novo para conferir."));
    } else if (!packages.empty()) {
        row.help[1] = Tx("Python packages for ASSETS FOR MODDING: ", "Pacotes Python para ASSETS PARA MODDING: ") +
                      packages +
                      Tx(" (pip installs them then; click to install now).",
                         " (o pip instala na hora; clique para instalar agora).");
    } else {
        row.help[1] = included ? Tx("Compiler (clang), CMake, Ninja and Python come in the toolchain folder.",
                                    "Compilador (clang), CMake, Ninja e Python vêm na pasta toolchain.")
                               : Tx("Visual Studio Build Tools (C++), LLVM clang-cl, CMake and Ninja.",
                                    "Visual Studio Build Tools (C++), LLVM clang-cl, CMake e Ninja.");
    }
    if (included && absent.empty() && packages.empty()) {
        row.help[0] = Tx("Nothing is installed on this PC.", "Nada é instalado neste PC.");
    } else if (!present.empty()) {
        row.help[0] = "OK: " + present;
    }
    return row;
}

InstallRow ShortcutRow(const Text& label, bool on, int id, const Text& help0, const Text& pending) {
    InstallRow row;
    row.label = label;
    row.value = YesNo(on);
    row.help[0] = T(help0);
    row.help[1] = g_inst.shortcutsDone ? Tx("Done.", "Feito.") : T(pending);
    row.enabled = !g_inst.shortcutsDone;
    row.id = id;
    return row;
}

// The value's colours of an information row; the label's for the others.
const Style& ValueStyle(const InstallRow& row, const Style& labelStyle) {
    switch (row.id) {
    case RowSpace:
        return EnoughSpace() ? SELECTED : WARNING;
    case RowPrereqs: {
        bool missing = false;
        {
            std::lock_guard<std::mutex> lock(g_inst.mutex);
            missing = MissingCount() > 0;
        }
        return missing && g_inst.checked ? WARNING : labelStyle;
    }
    case RowGameStatus: {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        return g_inst.dump.Ok() ? SELECTED : WARNING;
    }
    case RowGpu:
        return g_inst.gpuKnown ? SELECTED : INFO;
    default:
        return labelStyle;
    }
}

void DrawHeader(const InstallRow& row, float y) {
    const std::string label = T(row.label);
    Draw(1, label, CENTRE, y + 2.0f, 26.0f, TITLE, 0.5f, 1e9f);
    const float half = TextWidth(1, label, 26.0f) * 0.5f + 16.0f;
    const float thickness = 2.0f * g_view.s;
    g_draw->AddLine(g_view.P(532.0f, y + 17.0f), g_view.P(CENTRE - half, y + 17.0f), HEADER_LINE, thickness);
    g_draw->AddLine(g_view.P(CENTRE + half, y + 17.0f), g_view.P(1186.0f, y + 17.0f), HEADER_LINE, thickness);
}

void DrawHelp(const InstallRow& row) {
    g_draw->AddLine(g_view.P(552.0f, 552.0f), g_view.P(1166.0f, 552.0f), HELP_LINE, 2.0f * g_view.s);
    if (row.plainHelp) {
        DrawUi(row.help[0], CENTRE, 560.0f, 21.0f, HELP.fill, 0.5f, 634.0f);
    } else {
        Draw(0, row.help[0], CENTRE, 560.0f, 25.0f, HELP, 0.5f, 634.0f);
    }
    Draw(0, row.help[1], CENTRE, 589.0f, 25.0f, HELP, 0.5f, 634.0f);
}

} // namespace

bool Pt() { return settings::options::Portuguese(g_values); }

const char* T(const Text& text) { return Pt() ? text.pt : text.en; }

std::string OnOff(bool on) { return on ? Tx("ON", "LIGADO") : Tx("OFF", "DESLIGADO"); }

std::string YesNo(bool yes) { return yes ? Tx("YES", "SIM") : Tx("NO", "NÃO"); }

InstallRow GpuRow() {
    InstallRow row;
    row.label = {"VIDEO CARD", "PLACA DE VÍDEO"};
    row.plainHelp = true;
    row.id = RowGpu;
    const char* vendor = settings::GpuVendorName(g_inst.gpu.vendor);
    row.help[0] = g_inst.gpu.name.empty() ? std::string(vendor) : g_inst.gpu.name;
    if (g_inst.gpu.forced) row.help[0] += std::string(" (VELKOR_GPU_VENDOR = ") + vendor + ")";
    if (!g_inst.gpuKnown) {
        row.value = Tx("CHECKING...", "VERIFICANDO...");
        row.help[1] = Tx("Asking NVIDIA's driver whether DLSS runs here.",
                         "Perguntando ao driver da NVIDIA se o DLSS roda aqui.");
    } else if (g_inst.dlss) {
        row.value = "DLSS";
        row.help[1] = Tx("NVIDIA RTX: DLSS is installed (FSR 3.1 is not on Linux yet).",
                         "NVIDIA RTX: o DLSS é instalado (o FSR 3.1 ainda não existe no Linux).");
    } else {
        row.value = Tx("NO UPSCALER", "SEM UPSCALER");
        row.help[1] = Tx("DLSS needs an NVIDIA RTX GPU, and FSR 3.1 is not on Linux yet.",
                         "O DLSS precisa de NVIDIA RTX, e o FSR 3.1 ainda não existe no Linux.");
    }
    return row;
}

std::vector<InstallRow> InstallRows() {
    std::vector<InstallRow> rows;
    rows.reserve(9);
    const fs::path game = GameFolder();
    if (g_inst.bundle) rows.push_back(InstallDirRow());
    rows.push_back(GameRow(game));
    rows.push_back(GameStatusRow(game));
    if (g_inst.bundle) {
        rows.push_back(GpuRow());
        rows.push_back(SpaceRow());
    } else {
        rows.push_back(PrereqsRow());
    }
    rows.push_back(Header({"OPTIONS", "OPÇÕES"}));
    rows.push_back(Option({"SUBTITLES", "LEGENDAS"}, g_inst.subtitles, RowSubtitles,
                          {"Subtitles for the cutscenes and dialogue: English transcript and the Brazilian",
                           "Legendas nas cenas e falas: transcrição em inglês e a tradução"},
                          {"Portuguese translation (about 1 MB download).",
                           "em português do Brasil (cerca de 1 MB para baixar)."}));
    rows.push_back(Option({"HD AI REMASTER", "HD AI REMASTER"}, g_inst.remaster, RowRemaster,
                          {"AI-upscaled textures and smoother models for the whole game (fan made).",
                           "Texturas ampliadas por IA e modelos suavizados no jogo todo (feito por fãs)."},
                          {"About 4.5 GB to download; turn it on in the launcher afterwards.",
                           "Cerca de 4,5 GB para baixar; ligue depois no launcher."}));
    rows.push_back(Option({"ASSETS FOR MODDING", "ASSETS PARA MODDING"}, g_inst.extractAssets, RowAssets,
                          {"Exports the game's sounds, videos, textures and 3D models to open formats",
                           "Exporta sons, vídeos, texturas e modelos 3D do jogo para formatos abertos"},
                          {"in private\\assets (about 9 minutes, 18 GB). Only for mods.",
                           "em private\\assets (cerca de 9 minutos, 18 GB). Só para mods."}));
    if (!g_inst.bundle) {
        rows.push_back(Option({"COPY THE GAME INTO THE FOLDER", "COPIAR O JOGO PARA A PASTA"}, g_inst.copyGame,
                              RowCopy,
                              {"On: the dump is copied to dist\\game (3 GB). Off: the game keeps",
                               "Ligado: o jogo é copiado para dist\\game (3 GB). Desligado: o jogo usa"},
                              {"using it where it is.", "a pasta onde ele está."}));
        std::string toolchain;
        {
            std::lock_guard<std::mutex> lock(g_inst.mutex);
            toolchain = g_inst.toolchain;
        }
        InstallRow tools = Option(
            {"BUILD TOOLS", "FERRAMENTAS"}, false, RowToolchain,
            {"Advanced. INCLUDED: the toolchain folder of the zip, nothing to install. VISUAL STUDIO:",
             "Avançado. INCLUÍDAS: a pasta toolchain do zip, nada a instalar. VISUAL STUDIO:"},
            {"an installed Visual Studio Build Tools + LLVM clang-cl (winget installs them).",
             "Visual Studio Build Tools + LLVM clang-cl instalados (o winget os instala)."});
        tools.value = toolchain == "msvc" ? std::string("VISUAL STUDIO") : Tx("INCLUDED", "INCLUÍDAS");
        rows.push_back(tools);
    }
    return rows;
}

std::vector<InstallRow> DoneRows() {
    std::vector<InstallRow> rows;
    InstallRow where;
    where.label = {"INSTALLED IN", "INSTALADO EM"};
    where.value = Tx("OPEN...", "ABRIR...");
    where.help[0] = PlayDir().u8string();
    where.help[1] = Tx("The launcher is VelkorLauncher there; your saves are in userdata.",
                       "O launcher é o VelkorLauncher de lá; seus saves ficam em userdata.");
    where.enabled = true;
    where.plainHelp = true;
    where.id = RowInstalledIn;
    rows.push_back(where);
    rows.push_back(Header({"SHORTCUTS", "ATALHOS"}));
    rows.push_back(ShortcutRow({"DESKTOP SHORTCUT", "ATALHO NA ÁREA DE TRABALHO"}, g_inst.desktopShortcut,
                               RowDesktop,
                               {"Create a shortcut to the launcher on the desktop?",
                                "Criar um atalho para o launcher na área de trabalho?"},
                               {"It is made when you click PLAY or FINISH.",
                                "Ele é criado ao clicar em JOGAR ou CONCLUIR."}));
    rows.push_back(ShortcutRow({"APPLICATIONS MENU", "MENU DE APLICATIVOS"}, g_inst.startMenu, RowStartMenu,
                               {"The launcher in the applications menu; right click it there for \"Add to Steam\".",
                                "O launcher no menu de aplicativos; clique nele com o botão direito para "
                                "\"Adicionar à Steam\"."},
                               {"It is made when you click PLAY or FINISH.",
                                "Ela é criada ao clicar em JOGAR ou CONCLUIR."}));
    return rows;
}

bool KeyPressed(std::initializer_list<ImGuiKey> keys, bool repeat) {
    for (ImGuiKey key : keys) {
        if (ImGui::IsKeyPressed(key, repeat)) return true;
    }
    return false;
}

void DrawRows(const std::vector<InstallRow>& rows, bool allowInstall) {
    const int count = static_cast<int>(rows.size());
    std::vector<int> selectable;
    for (int i = 0; i < count; ++i) {
        if (!rows[i].header && rows[i].enabled) selectable.push_back(i);
    }
    const auto isSelectable = [&](int index) {
        return std::find(selectable.begin(), selectable.end(), index) != selectable.end();
    };

    const ImGuiIO& io = ImGui::GetIO();
    if (io.MouseDelta.x != 0.0f || io.MouseDelta.y != 0.0f) g_inst.mouseMode = true;

    const bool dialogOpen = g_modal != Modal::None;
    if (!dialogOpen && !selectable.empty()) {
        const int n = static_cast<int>(selectable.size());
        int at = static_cast<int>(std::find(selectable.begin(), selectable.end(), g_inst.selected) - selectable.begin());
        if (at == n) {
            const bool infoRow = g_inst.selected >= 0 && g_inst.selected < count && rows[g_inst.selected].plainHelp;
            if (!infoRow) at = 0;
        }
        if (KeyPressed({ImGuiKey_DownArrow, ImGuiKey_GamepadDpadDown, ImGuiKey_GamepadLStickDown}, true)) {
            g_inst.mouseMode = false;
            at = (std::min(at, n - 1) + 1) % n;
        }
        if (KeyPressed({ImGuiKey_UpArrow, ImGuiKey_GamepadDpadUp, ImGuiKey_GamepadLStickUp}, true)) {
            g_inst.mouseMode = false;
            at = (n + std::min(at, n - 1) - 1) % n;
        }
        if (at < n && !g_inst.mouseMode) g_inst.selected = selectable[at];

        if (KeyPressed({ImGuiKey_Enter, ImGuiKey_KeypadEnter, ImGuiKey_Space, ImGuiKey_GamepadFaceDown,
                        ImGuiKey_LeftArrow, ImGuiKey_RightArrow, ImGuiKey_GamepadDpadLeft, ImGuiKey_GamepadDpadRight},
                       false) &&
            isSelectable(g_inst.selected)) {
            ActivateRow(rows[g_inst.selected].id);
        }
        if (allowInstall && KeyPressed({ImGuiKey_GamepadStart, ImGuiKey_F5}, false) && CanInstall()) {
            StartInstall(false);
        }
        if (KeyPressed({ImGuiKey_Escape, ImGuiKey_GamepadFaceRight}, false)) {
            ApplyShortcuts();
            g_quit = true;
        }
    }

    const float s = g_view.s;
    for (int i = 0; i < count; ++i) {
        const InstallRow& row = rows[i];
        const float y = ROW_TOP + static_cast<float>(i) * ROW_PITCH;
        if (row.header) {
            DrawHeader(row, y);
            continue;
        }
        ImGui::PushID(i);
        ImGui::SetCursorScreenPos(g_view.P(482.0f, y - 7.0f));
        const bool pressed = ImGui::InvisibleButton("row", ImVec2(754.0f * s, 44.0f * s));
        const bool hovered = ImGui::IsItemHovered();
        ImGui::PopID();
        if (hovered && g_inst.mouseMode && (row.enabled || row.plainHelp)) g_inst.selected = i;

        const Style& labelStyle = !row.enabled ? INFO : (g_inst.selected == i ? SELECTED : NORMAL);
        Draw(0, T(row.label), LABEL_RIGHT, y, 30.0f, labelStyle, 1.0f, 312.0f);
        Draw(0, row.value, VALUE_LEFT, y, 30.0f, ValueStyle(row, labelStyle), 0.0f, 326.0f);

        if (pressed && row.enabled && !PointerBlocked()) {
            g_inst.selected = i;
            ActivateRow(row.id);
        }
    }

    if (g_inst.selected >= 0 && g_inst.selected < count) DrawHelp(rows[g_inst.selected]);
}

void ActivateRow(int id) {
    switch (id) {
    case RowGame:
        ChooseInstallerGameFolder();
        break;
    case RowInstalledIn:
        OpenFolder(PlayDir());
        break;
    case RowDesktop:
        g_inst.desktopShortcut = !g_inst.desktopShortcut;
        break;
    case RowStartMenu:
        g_inst.startMenu = !g_inst.startMenu;
        break;
    case RowPrereqs:
        PrereqsRowAction();
        break;
    case RowSubtitles:
        g_inst.subtitles = !g_inst.subtitles;
        break;
    case RowRemaster:
        g_inst.remaster = !g_inst.remaster;
        break;
    case RowAssets:
        g_inst.extractAssets = !g_inst.extractAssets;
        break;
    case RowCopy:
        g_inst.copyGame = !g_inst.copyGame;
        if (g_inst.copyGame && g_inst.gameBytes == 0) g_inst.gameBytes = FolderBytes(GameFolder());
        break;
    case RowToolchain:
        ToolchainRowAction();
        break;
    case RowInstallDir:
        ChooseInstallDir();
        break;
    default:
        break; // information rows and headers do nothing
    }
}
