// Game dump verification and the native prompt that asks for the dump.
#include "launcher/dump.h"

#include <system_error>

#include "launcher/dialogs.h"
#include "launcher/installer.h"
#include "launcher/launcher.h"
#include "launcher/shortcuts.h"
#include "launcher/setup_script.h"
#include "launcher/sha256.h"
#include "launcher/xex_digest.h"
#include "runtime/log.h"
#include "runtime/paths.h"
#include "runtime/platform/platform.h"
#include "runtime/platform/text.h"
#include "runtime/settings/settings.h"

namespace fs = std::filesystem;

const wchar_t* const DUMP_FILES[5] = {L"default.xex", L"default.rcf", L"english.rcf",
                                      L"sound1.rcf", L"sound2.rcf"};

namespace {

bool IsRegularFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

bool IsDirectory(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

DumpProblem Problem(std::string en0, std::string en1, std::string pt0, std::string pt1) {
    DumpProblem p;
    p.en = {std::move(en0), std::move(en1)};
    p.pt = {std::move(pt0), std::move(pt1)};
    return p;
}

} // namespace

DumpProblem CheckDump(const fs::path& folder) {
    if (folder.empty() || !IsDirectory(folder)) {
        return Problem("No game folder chosen.", "", "Nenhuma pasta do jogo escolhida.", "");
    }

    std::string missing;
    auto add = [&missing](const std::string& item) {
        if (!missing.empty()) missing += ", ";
        missing += item;
    };
    for (const wchar_t* name : DUMP_FILES) {
        std::string narrow = plat::NarrowUtf8(name);
        if (!IsRegularFile(folder / narrow)) add(narrow);
    }
    if (!IsDirectory(folder / "shaders")) add("shaders\\");

    const fs::path xex = folder / "default.xex";
    if (!missing.empty()) {
        if (!IsRegularFile(xex)) {
            return Problem("This is not the folder of the game (no default.xex).", "Missing: " + missing,
                           "Esta não é a pasta do jogo (não tem default.xex).", "Faltam: " + missing);
        }
        return Problem("The game files are incomplete.", "Missing: " + missing,
                       "Os arquivos do jogo estão incompletos.", "Faltam: " + missing);
    }

    const std::string digest = Sha256File(xex);
    if (digest.size() != 64 || digest != ExpectedXexDigest()) {
        const std::string shown = digest.substr(0, 16) + "...";
        return Problem("This default.xex is not the version the port supports.",
                       "It needs Velkor of the Ombrax for Xbox 360 (retail disc, title 4D5A0F31); SHA-256 " +
                           shown,
                       "Este default.xex não é a versão que o port suporta.",
                       "Ele precisa do Velkor of the Ombrax de Xbox 360 (disco comercial, título 4D5A0F31); "
                       "SHA-256 " +
                           shown);
    }
    return {};
}

fs::path FindDumpIn(const fs::path& chosen) {
    if (IsRegularFile(chosen / "default.xex")) return chosen;
    std::error_code ec;
    fs::directory_iterator it(chosen, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code kind;
        if (it->is_directory(kind) && IsRegularFile(it->path() / "default.xex")) return it->path();
    }
    return chosen;
}

fs::path AskForDump(void* owner) {
    const bool pt = InstallerPt();
    const char* title = pt ? "Velkor of the Ombrax: Lumenfall - Instalação"
                           : "Velkor of the Ombrax: Lumenfall - Setup";
    const char* prompt =
        pt ? "Escolha a pasta do seu Velkor of the Ombrax (Xbox 360): a que tem default.xex e default.rcf"
           : "Choose the folder of your Velkor of the Ombrax (Xbox 360): the one with default.xex and "
             "default.rcf";

    fs::path result;
    for (;;) {
        fs::path picked = plat::PickFolder(prompt, owner);
        if (picked.empty()) {
            const char* text =
                pt ? "O instalador precisa da pasta do seu Velkor of the Ombrax (Xbox 360) para continuar: "
                     "o jogo é montado a partir dela, e nenhum arquivo do jogo vem no instalador.\n\n"
                     "Escolher a pasta agora?"
                   : "The installer needs the folder of your Velkor of the Ombrax (Xbox 360) to go on: the "
                     "game is built from it, and no game file comes with the installer.\n\n"
                     "Choose the folder now?";
            if (AskButtons(title, text, {pt ? "Escolher" : "Choose", pt ? "Sair" : "Quit"}, false) == 0)
                continue;
            break;
        }

        picked = FindDumpIn(picked);
        const DumpProblem problem = CheckDump(picked);
        if (problem.Ok()) {
            result = picked;
            break;
        }

        const auto& lines = pt ? problem.pt : problem.en;
        std::string text = picked.string() + "\n\n" + lines[0];
        if (!lines[1].empty()) text += "\n" + lines[1];
        text += pt ? "\n\nEscolha a pasta com os arquivos do seu disco do jogo (default.xex, default.rcf, "
                     "english.rcf, sound1.rcf, sound2.rcf e shaders/)."
                   : "\n\nChoose the folder with the files of your game disc (default.xex, default.rcf, "
                     "english.rcf, sound1.rcf, sound2.rcf and shaders/).";
        if (AskButtons(title, text, {pt ? "Tentar de novo" : "Retry", pt ? "Cancelar" : "Cancel"}, true) != 0)
            break;
    }

    Log("[setup] game folder %s", result.empty() ? "not chosen" : result.c_str());
    return result;
}

fs::path GameFolder() { return paths::Game(); }

fs::path InstalledGameFolder() {
    const fs::path play = PlayDir();
    if (play.empty()) return {};
    const fs::path copy = play / "game";
    if (paths::IsGameFolder(copy)) return copy;
    const std::string saved = settings::ReadGameFolder(play / "userdata");
    if (!saved.empty() && paths::IsGameFolder(fs::path(saved))) return fs::path(saved);
    return {};
}

void ChooseInstallerGameFolder() {
    const fs::path folder = AskForDump(nullptr);
    if (folder.empty()) return;
    g_passArgs = {"--game", folder.string()};
    Relaunch();
}
