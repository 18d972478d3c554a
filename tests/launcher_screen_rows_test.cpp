// The installer rows as built from the installer state: order, flags, and
// every label, value and help line in English and Brazilian Portuguese.
#include "launcher/dump.h"
#include "launcher/install_dir.h"
#include "launcher/installer.h"
#include "launcher/launcher.h"
#include "launcher/screen_rows.h"
#include "launcher/setup_script.h"
#include "runtime/paths.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class Rows : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_tmp = new testsupport::TempDir("screen-rows");
        s_game = s_tmp->path() / "dump";
        fs::create_directories(s_game);
        std::ofstream(s_game / "default.xex") << "XEX2";
        std::ofstream(s_game / "default.rcf") << "RCF";
        std::string a0 = "test", a1 = "--game", a2 = s_game.string();
        char* argv[] = {a0.data(), a1.data(), a2.data(), nullptr};
        paths::Init(3, argv, false);
    }
    static void TearDownTestSuite() {
        delete s_tmp;
        s_tmp = nullptr;
    }

    void SetUp() override {
        Language("en");
        g_inst.phase = Phase::Setup;
        g_inst.bundle = false;
        g_inst.installDir = s_tmp->path() / "install";
        g_inst.subtitles = true;
        g_inst.remaster = false;
        g_inst.extractAssets = false;
        g_inst.copyGame = false;
        g_inst.gameBytes = 0;
        g_inst.checking = false;
        g_inst.checked = true;
        g_inst.gpuKnown = false;
        g_inst.dlss = false;
        g_inst.gpu = GpuInfo();
        g_inst.shortcutsDone = false;
        g_inst.desktopShortcut = true;
        g_inst.startMenu = true;
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.prereqs.clear();
        g_inst.packages.clear();
        g_inst.toolchain = "bundled";
        g_inst.dump = DumpProblem();
    }

    static void Language(const char* language) { g_values.language = language; }

    static std::vector<std::string> Labels(const std::vector<InstallRow>& rows) {
        std::vector<std::string> labels;
        for (const InstallRow& row : rows) labels.push_back(T(row.label));
        return labels;
    }

    static const InstallRow& Find(const std::vector<InstallRow>& rows, int id) {
        for (const InstallRow& row : rows) {
            if (row.id == id) return row;
        }
        static const InstallRow none;
        ADD_FAILURE() << "no row " << id;
        return none;
    }

    static void SetPrereqs(std::vector<Prereq> tools, std::vector<Prereq> packages, const std::string& toolchain) {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.prereqs = std::move(tools);
        g_inst.packages = std::move(packages);
        g_inst.toolchain = toolchain;
    }

    static testsupport::TempDir* s_tmp;
    static fs::path s_game;
};

testsupport::TempDir* Rows::s_tmp = nullptr;
fs::path Rows::s_game;

TEST_F(Rows, BothModesBuildNineRowsInTheirOrder) {
    struct Case {
        bool bundle;
        const char* language;
        std::vector<std::string> labels;
        std::vector<int> ids;
    };
    const Case CASES[] = {
        {true, "en",
         {"INSTALL TO", "GAME FOLDER", "GAME", "VIDEO CARD", "DISK SPACE", "OPTIONS", "SUBTITLES", "HD AI REMASTER",
          "ASSETS FOR MODDING"},
         {RowInstallDir, RowGame, RowGameStatus, RowGpu, RowSpace, 0, RowSubtitles, RowRemaster, RowAssets}},
        {true, "pt-br",
         {"INSTALAR EM", "PASTA DO JOGO", "JOGO", "PLACA DE VÍDEO", "ESPAÇO EM DISCO", "OPÇÕES", "LEGENDAS",
          "HD AI REMASTER", "ASSETS PARA MODDING"},
         {RowInstallDir, RowGame, RowGameStatus, RowGpu, RowSpace, 0, RowSubtitles, RowRemaster, RowAssets}},
        {false, "en",
         {"GAME FOLDER", "GAME", "PREREQUISITES", "OPTIONS", "SUBTITLES", "HD AI REMASTER", "ASSETS FOR MODDING",
          "COPY THE GAME INTO THE FOLDER", "BUILD TOOLS"},
         {RowGame, RowGameStatus, RowPrereqs, 0, RowSubtitles, RowRemaster, RowAssets, RowCopy, RowToolchain}},
        {false, "pt-br",
         {"PASTA DO JOGO", "JOGO", "PRÉ-REQUISITOS", "OPÇÕES", "LEGENDAS", "HD AI REMASTER", "ASSETS PARA MODDING",
          "COPIAR O JOGO PARA A PASTA", "FERRAMENTAS"},
         {RowGame, RowGameStatus, RowPrereqs, 0, RowSubtitles, RowRemaster, RowAssets, RowCopy, RowToolchain}},
    };
    for (const Case& c : CASES) {
        g_inst.bundle = c.bundle;
        Language(c.language);
        const std::vector<InstallRow> rows = InstallRows();
        EXPECT_EQ(Labels(rows), c.labels) << c.language;
        for (size_t i = 0; i < rows.size() && i < c.ids.size(); ++i) {
            const InstallRow& row = rows[i];
            EXPECT_EQ(row.id, c.ids[i]) << c.labels[i];
            EXPECT_EQ(row.header, row.id == 0) << c.labels[i];
            const bool information = row.id == RowGameStatus || row.id == RowGpu || row.id == RowSpace;
            EXPECT_EQ(row.enabled, !row.header && !information) << c.labels[i];
            const bool plain = information || row.id == RowInstallDir || row.id == RowPrereqs || row.id == RowGame;
            EXPECT_EQ(row.plainHelp, plain) << c.labels[i];
        }
    }
}

TEST_F(Rows, OptionValuesAndHelpInBothLanguages) {
    struct Case {
        const char* language;
        int id;
        const char* value;
        const char* help0;
        const char* help1;
    };
    g_inst.subtitles = true;
    g_inst.remaster = false;
    g_inst.extractAssets = true;
    g_inst.copyGame = false;
    const Case CASES[] = {
        {"en", RowSubtitles, "ON", "Subtitles for the cutscenes and dialogue: English transcript and the Brazilian",
         "Portuguese translation (about 1 MB download)."},
        {"pt-br", RowSubtitles, "LIGADO", "Legendas nas cenas e falas: transcrição em inglês e a tradução",
         "em português do Brasil (cerca de 1 MB para baixar)."},
        {"en", RowRemaster, "OFF", "AI-upscaled textures and smoother models for the whole game (fan made).",
         "About 4.5 GB to download; turn it on in the launcher afterwards."},
        {"pt-br", RowRemaster, "DESLIGADO",
         "Texturas ampliadas por IA e modelos suavizados no jogo todo (feito por fãs).",
         "Cerca de 4,5 GB para baixar; ligue depois no launcher."},
        {"en", RowAssets, "ON", "Exports the game's sounds, videos, textures and 3D models to open formats",
         "in private\\assets (about 9 minutes, 18 GB). Only for mods."},
        {"pt-br", RowAssets, "LIGADO", "Exporta sons, vídeos, texturas e modelos 3D do jogo para formatos abertos",
         "em private\\assets (cerca de 9 minutos, 18 GB). Só para mods."},
        {"en", RowCopy, "OFF", "On: the dump is copied to dist\\game (3 GB). Off: the game keeps",
         "using it where it is."},
        {"pt-br", RowCopy, "DESLIGADO", "Ligado: o jogo é copiado para dist\\game (3 GB). Desligado: o jogo usa",
         "a pasta onde ele está."},
        {"en", RowToolchain, "INCLUDED",
         "Advanced. INCLUDED: the toolchain folder of the zip, nothing to install. VISUAL STUDIO:",
         "an installed Visual Studio Build Tools + LLVM clang-cl (winget installs them)."},
        {"pt-br", RowToolchain, "INCLUÍDAS",
         "Avançado. INCLUÍDAS: a pasta toolchain do zip, nada a instalar. VISUAL STUDIO:",
         "Visual Studio Build Tools + LLVM clang-cl instalados (o winget os instala)."},
        {"en", RowGame, "CHANGE...", nullptr,
         "default.xex, default.rcf, english.rcf, sound1.rcf... It is never changed."},
        {"pt-br", RowGame, "TROCAR...", nullptr,
         "default.xex, default.rcf, english.rcf, sound1.rcf... Ela nunca é alterada."},
    };
    for (const Case& c : CASES) {
        Language(c.language);
        const InstallRow row = Find(InstallRows(), c.id);
        EXPECT_EQ(row.value, c.value) << c.language << " " << c.id;
        if (c.help0) {
            EXPECT_EQ(row.help[0], c.help0) << c.language << " " << c.id;
        }
        EXPECT_EQ(row.help[1], c.help1) << c.language << " " << c.id;
    }
    // The game row shows the folder itself as plain help.
    EXPECT_EQ(Find(InstallRows(), RowGame).help[0], s_game.u8string());
    SetPrereqs({}, {}, "msvc");
    EXPECT_EQ(Find(InstallRows(), RowToolchain).value, "VISUAL STUDIO");
}

TEST_F(Rows, TheGameCheckShowsTheDumpVerdict) {
    InstallRow row = Find(InstallRows(), RowGameStatus);
    EXPECT_EQ(row.value, "COMPATIBLE");
    EXPECT_EQ(row.help[0], "Velkor of the Ombrax (Xbox 360), the default.xex this port is made for.");
    EXPECT_EQ(row.help[1], "It is recompiled on this PC. No game file is downloaded.");
    Language("pt-br");
    row = Find(InstallRows(), RowGameStatus);
    EXPECT_EQ(row.value, "COMPATÍVEL");
    EXPECT_EQ(row.help[0], "Velkor of the Ombrax (Xbox 360), o default.xex para o qual o port é feito.");
    EXPECT_EQ(row.help[1], "Ele é recompilado neste PC. Nenhum arquivo do jogo é baixado.");

    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.dump.en = {"Unsupported default.xex", "Detail line"};
        g_inst.dump.pt = {"default.xex não suportado", "Linha de detalhe"};
    }
    row = Find(InstallRows(), RowGameStatus);
    EXPECT_EQ(row.value, "INCOMPATÍVEL");
    EXPECT_EQ(row.help[0], "default.xex não suportado");
    EXPECT_EQ(row.help[1], "Linha de detalhe");
    Language("en");
    row = Find(InstallRows(), RowGameStatus);
    EXPECT_EQ(row.value, "NOT COMPATIBLE");
    EXPECT_EQ(row.help[0], "Unsupported default.xex");
}

TEST_F(Rows, PrerequisitesTellWhatIsMissingAndHowToGetIt) {
    struct Case {
        std::vector<Prereq> tools;
        std::vector<Prereq> packages;
        const char* toolchain;
        bool checking;
        const char* language;
        const char* value;
        const char* help0;
        const char* help1;
    };
    const std::vector<Prereq> okTools = {{"python", "/usr/bin/python3", true}, {"cmake", "", true}};
    const std::vector<Prereq> someMissing = {{"python", "", true}, {"clang", "", false}, {"ninja", "", false}};
    const std::vector<Prereq> pkg = {{"numpy>=1.26", "", false}, {"pillow", "", true}};
    const Case CASES[] = {
        {okTools, {}, "bundled", true, "en", "CHECKING...", "Nothing is installed on this PC.",
         "Compiler (clang), CMake, Ninja and Python come in the toolchain folder."},
        {okTools, {}, "bundled", true, "pt-br", "VERIFICANDO...", "Nada é instalado neste PC.",
         "Compilador (clang), CMake, Ninja e Python vêm na pasta toolchain."},
        {okTools, {}, "bundled", false, "en", "INCLUDED", "Nothing is installed on this PC.",
         "Compiler (clang), CMake, Ninja and Python come in the toolchain folder."},
        {okTools, {}, "bundled", false, "pt-br", "INCLUÍDOS", "Nada é instalado neste PC.",
         "Compilador (clang), CMake, Ninja e Python vêm na pasta toolchain."},
        {okTools, {}, "msvc", false, "en", "ALL READY", "OK: python, cmake",
         "Visual Studio Build Tools (C++), LLVM clang-cl, CMake and Ninja."},
        {okTools, {}, "msvc", false, "pt-br", "TUDO PRONTO", "OK: python, cmake",
         "Visual Studio Build Tools (C++), LLVM clang-cl, CMake e Ninja."},
        {someMissing, {}, "bundled", false, "en", "MISSING 2 (INSTALL)", "OK: python",
         "Missing: clang, ninja. The release zip has them; click to download them (tools\\toolchain.py)."},
        {someMissing, {}, "bundled", false, "pt-br", "FALTAM 2 (INSTALAR)", "OK: python",
         "Faltam: clang, ninja. O zip da release os traz; clique para baixá-los (tools\\toolchain.py)."},
        {someMissing, {}, "msvc", false, "en", "MISSING 2 (INSTALL)", "OK: python",
         "Missing: clang, ninja. Click to install with winget, then click again to check."},
        {someMissing, {}, "msvc", false, "pt-br", "FALTAM 2 (INSTALAR)", "OK: python",
         "Faltam: clang, ninja. Clique para instalar pelo winget e depois de novo para conferir."},
        {okTools, pkg, "bundled", false, "en", "INCLUDED", "OK: python, cmake",
         "Python packages for ASSETS FOR MODDING: numpy (pip installs them then; click to install now)."},
        {okTools, pkg, "bundled", false, "pt-br", "INCLUÍDOS", "OK: python, cmake",
         "Pacotes Python para ASSETS PARA MODDING: numpy (o pip instala na hora; clique para instalar agora)."},
        {{}, pkg, "msvc", false, "en", "ALL READY", "",
         "Python packages for ASSETS FOR MODDING: numpy (pip installs them then; click to install now)."},
    };
    for (const Case& c : CASES) {
        SetPrereqs(c.tools, c.packages, c.toolchain);
        g_inst.checking = c.checking;
        Language(c.language);
        const InstallRow row = Find(InstallRows(), RowPrereqs);
        EXPECT_EQ(row.value, c.value) << c.value << " " << c.language;
        EXPECT_EQ(row.help[0], c.help0) << c.value << " " << c.language;
        EXPECT_EQ(row.help[1], c.help1) << c.value << " " << c.language;
    }
    g_inst.checking = false;
    g_inst.checked = false;
    EXPECT_EQ(Find(InstallRows(), RowPrereqs).value, "CHECKING...") << "before the first check ended";
}

TEST_F(Rows, DiskSpacePutsTheFreeSizeInBrackets) {
    g_inst.bundle = true;
    const std::string need = SizeText(RequiredBytes());
    const std::string free = SizeText(FreeBytes(g_inst.installDir));
    InstallRow row = Find(InstallRows(), RowSpace);
    EXPECT_EQ(row.value, need + " (" + free + " FREE)");
    EXPECT_EQ(row.help[0], "Needed with these options: " + need + "; free on that drive: " + free + ".");
    Language("pt-br");
    row = Find(InstallRows(), RowSpace);
    EXPECT_EQ(row.value, SizeText(RequiredBytes()) + " (LIVRE " + SizeText(FreeBytes(g_inst.installDir)) + ")");
    EXPECT_EQ(row.help[0].rfind("Necessário com estas opções: ", 0), 0u) << row.help[0];
    EXPECT_NE(row.help[0].find("; livre nesse disco: "), std::string::npos) << row.help[0];

    // A game bigger than any drive: not enough.
    g_inst.gameBytes = uint64_t(1) << 60;
    EXPECT_EQ(Find(InstallRows(), RowSpace).help[1], "Não cabe: escolha outro disco ou menos opções.");
    Language("en");
    EXPECT_EQ(Find(InstallRows(), RowSpace).help[1], "Not enough: choose another drive or fewer options.");
    g_inst.gameBytes = 0;
    if (FreeBytes(g_inst.installDir) < RequiredBytes()) GTEST_SKIP() << "the temporary drive is nearly full";
    EXPECT_EQ(Find(InstallRows(), RowSpace).help[1],
              "The compiler, Python, CMake and the libraries come inside the installer.");
}

TEST_F(Rows, TheVideoCardRowFollowsTheDlssDecision) {
    struct Case {
        const char* name;
        uint32_t vendor;
        bool forced;
        bool known;
        bool dlss;
        const char* language;
        const char* value;
        const char* help0;
        const char* help1;
    };
    const Case CASES[] = {
        {"GeForce RTX 4070", 0x10DE, false, false, false, "en", "CHECKING...", "GeForce RTX 4070",
         "Asking NVIDIA's driver whether DLSS runs here."},
        {"GeForce RTX 4070", 0x10DE, false, false, false, "pt-br", "VERIFICANDO...", "GeForce RTX 4070",
         "Perguntando ao driver da NVIDIA se o DLSS roda aqui."},
        {"GeForce RTX 4070", 0x10DE, false, true, true, "en", "DLSS", "GeForce RTX 4070",
         "NVIDIA RTX: DLSS is installed (FSR 3.1 is not on Linux yet)."},
        {"GeForce RTX 4070", 0x10DE, false, true, true, "pt-br", "DLSS", "GeForce RTX 4070",
         "NVIDIA RTX: o DLSS é instalado (o FSR 3.1 ainda não existe no Linux)."},
        {"Radeon RX 7800", 0x1002, false, true, false, "en", "NO UPSCALER", "Radeon RX 7800",
         "DLSS needs an NVIDIA RTX GPU, and FSR 3.1 is not on Linux yet."},
        {"Radeon RX 7800", 0x1002, false, true, false, "pt-br", "SEM UPSCALER", "Radeon RX 7800",
         "O DLSS precisa de NVIDIA RTX, e o FSR 3.1 ainda não existe no Linux."},
        {"llvmpipe", 0x10DE, true, true, false, "en", "NO UPSCALER", "llvmpipe (VELKOR_GPU_VENDOR = NVIDIA)",
         "DLSS needs an NVIDIA RTX GPU, and FSR 3.1 is not on Linux yet."},
        {"", 0x1002, true, true, false, "en", "NO UPSCALER", "AMD (VELKOR_GPU_VENDOR = AMD)",
         "DLSS needs an NVIDIA RTX GPU, and FSR 3.1 is not on Linux yet."},
        {"", 0, false, true, false, "en", "NO UPSCALER", "?",
         "DLSS needs an NVIDIA RTX GPU, and FSR 3.1 is not on Linux yet."},
    };
    for (const Case& c : CASES) {
        g_inst.gpu.name = c.name;
        g_inst.gpu.vendor = c.vendor;
        g_inst.gpu.forced = c.forced;
        g_inst.gpuKnown = c.known;
        g_inst.dlss = c.dlss;
        Language(c.language);
        const InstallRow row = GpuRow();
        EXPECT_EQ(row.value, c.value) << c.help0;
        EXPECT_EQ(row.help[0], c.help0);
        EXPECT_EQ(row.help[1], c.help1) << c.help0;
        EXPECT_EQ(row.id, RowGpu);
        EXPECT_FALSE(row.enabled);
        EXPECT_TRUE(row.plainHelp);
    }
}

TEST_F(Rows, FinishedRowsOfferTheFolderAndTheShortcuts) {
    g_inst.bundle = true;
    g_inst.phase = Phase::Done;
    g_inst.desktopShortcut = true;
    g_inst.startMenu = false;
    std::vector<InstallRow> rows = DoneRows();
    EXPECT_EQ(Labels(rows),
              (std::vector<std::string>{"INSTALLED IN", "SHORTCUTS", "DESKTOP SHORTCUT", "APPLICATIONS MENU"}));
    EXPECT_EQ(rows[0].value, "OPEN...");
    EXPECT_EQ(rows[0].help[0], PlayDir().u8string());
    EXPECT_EQ(rows[0].help[1], "The launcher is VelkorLauncher there; your saves are in userdata.");
    EXPECT_TRUE(rows[0].enabled && rows[0].plainHelp);
    EXPECT_TRUE(rows[1].header);
    EXPECT_EQ(rows[2].value, "YES");
    EXPECT_EQ(rows[2].help[0], "Create a shortcut to the launcher on the desktop?");
    EXPECT_EQ(rows[2].help[1], "It is made when you click PLAY or FINISH.");
    EXPECT_EQ(rows[3].value, "NO");
    EXPECT_EQ(rows[3].help[0],
              "The launcher in the applications menu; right click it there for \"Add to Steam\".");
    EXPECT_TRUE(rows[2].enabled && rows[3].enabled);
    EXPECT_FALSE(rows[2].plainHelp || rows[3].plainHelp);

    Language("pt-br");
    g_inst.shortcutsDone = true;
    rows = DoneRows();
    EXPECT_EQ(Labels(rows), (std::vector<std::string>{"INSTALADO EM", "ATALHOS", "ATALHO NA ÁREA DE TRABALHO",
                                                      "MENU DE APLICATIVOS"}));
    EXPECT_EQ(rows[0].value, "ABRIR...");
    EXPECT_EQ(rows[0].help[1], "O launcher é o VelkorLauncher de lá; seus saves ficam em userdata.");
    EXPECT_EQ(rows[2].value, "SIM");
    EXPECT_EQ(rows[3].value, "NÃO");
    EXPECT_EQ(rows[2].help[0], "Criar um atalho para o launcher na área de trabalho?");
    EXPECT_EQ(rows[3].help[0],
              "O launcher no menu de aplicativos; clique nele com o botão direito para \"Adicionar à Steam\".");
    EXPECT_EQ(rows[2].help[1], "Feito.");
    EXPECT_EQ(rows[3].help[1], "Feito.");
    EXPECT_FALSE(rows[2].enabled || rows[3].enabled) << "made shortcuts cannot be changed";
    g_inst.shortcutsDone = false;
    rows = DoneRows();
    EXPECT_EQ(rows[2].help[1], "Ele é criado ao clicar em JOGAR ou CONCLUIR.");
    EXPECT_EQ(rows[3].help[1], "Ela é criada ao clicar em JOGAR ou CONCLUIR.");
}

TEST_F(Rows, ActivatingTogglesTheOptions) {
    struct Case {
        int id;
        bool* flag;
    };
    const Case CASES[] = {{RowSubtitles, &g_inst.subtitles}, {RowRemaster, &g_inst.remaster},
                          {RowAssets, &g_inst.extractAssets}, {RowDesktop, &g_inst.desktopShortcut},
                          {RowStartMenu, &g_inst.startMenu}};
    for (const Case& c : CASES) {
        const bool before = *c.flag;
        ActivateRow(c.id);
        EXPECT_EQ(*c.flag, !before) << c.id;
        ActivateRow(c.id);
        EXPECT_EQ(*c.flag, before) << c.id;
    }
    // Copying the game measures it the first time it is switched on.
    g_inst.gameBytes = 0;
    ActivateRow(RowCopy);
    EXPECT_TRUE(g_inst.copyGame);
    EXPECT_EQ(g_inst.gameBytes, uint64_t(4 + 3));
    // Information rows do nothing.
    for (int id : {int(RowGameStatus), int(RowGpu), int(RowSpace), 0}) ActivateRow(id);
    EXPECT_TRUE(g_inst.copyGame);
}

} // namespace
