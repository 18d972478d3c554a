#include "runtime/paths.h"

#include <string>
#include <system_error>

#include "runtime/log.h"
#include "runtime/platform/platform.h"
#include "runtime/settings/settings.h"

namespace fs = std::filesystem;

namespace paths {
namespace {

fs::path g_exeDir;
fs::path g_game;
fs::path g_mods;
fs::path g_userData;
fs::path g_languages;
fs::path g_data;
fs::path g_xex;
fs::path g_image;
bool g_chosenNow = false;

const char* const DIALOG_TITLE = "VelkorRecomp";

bool IsDirectory(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool IsRegularFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// Any kind of file; an error while checking (a folder we may not search)
// counts as the file being absent.
bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// A switch value, made absolute against the working directory as written.
// An empty value stays empty (no folder), not the working directory.
fs::path SwitchValue(const char* value) {
    fs::path written(value);
    if (written.empty()) return written;
    std::error_code ec;
    fs::path absolute = fs::absolute(written, ec);
    return ec ? written : absolute;
}

} // namespace

bool IsGameFolder(const fs::path& folder) {
    // An empty path names no folder (it must not turn into the working directory).
    if (folder.empty()) return false;
    return IsRegularFile(folder / "default.xex") && IsRegularFile(folder / "default.rcf");
}

fs::path PickGameFolder(void* owner) {
    const char* prompt = "VelkorRecomp: escolha a pasta do jogo (com default.xex e default.rcf)";
    fs::path folder = plat::PickFolder(prompt, owner);
    while (!folder.empty() && !IsGameFolder(folder)) {
        plat::ShowMessageBox(DIALOG_TITLE,
                             "Essa pasta não tem default.xex e default.rcf.\n\nEscolha a pasta com os arquivos do "
                             "seu Velkor of the Ombrax (Xbox 360).",
                             plat::MessageKind::Warning, owner);
        folder = plat::PickFolder(prompt, owner);
    }
    return folder;
}

bool Init(int argc, char** argv, bool askForGame) {
    g_exeDir = plat::ExecutablePath().parent_path();
    g_game.clear();
    g_xex.clear();
    g_image.clear();
    g_chosenNow = false;

    fs::path project = g_exeDir.parent_path();
    fs::path root = g_exeDir;
    fs::path player = g_exeDir;
    fs::path data = g_exeDir / "data";
    const char* devSuffix = "";

    if (IsDirectory(g_exeDir / "VelkorRecomp" / "languages")) {
        root = g_exeDir / "VelkorRecomp";
        data = root / "data";
    } else if (!IsDirectory(g_exeDir / "languages") && Exists(project / "CMakeLists.txt") &&
               IsDirectory(project / "runtime")) {
        root = project;
        player = IsDirectory(project / "dist") ? project / "dist" : project;
        data = project / "private";
        devSuffix = " (development build: data from the project)";
    }

    g_mods = player / "mods";
    g_userData = player / "userdata";
    g_languages = root / "languages";
    g_data = data;

    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i] ? argv[i] : "";
        const char* value = argv[i + 1] ? argv[i + 1] : "";
        fs::path* target = nullptr;
        if (name == "--xex") target = &g_xex;
        else if (name == "--image") target = &g_image;
        else if (name == "--game") target = &g_game;
        else if (name == "--mods") target = &g_mods;
        else if (name == "--userdata") target = &g_userData;
        else if (name == "--languages") target = &g_languages;
        else if (name == "--data") target = &g_data;
        if (target) *target = SwitchValue(value);
    }
    const char* source = "--game";

    if (g_game.empty() && IsGameFolder(player / "game")) {
        g_game = player / "game";
        source = "game\\ next to the exe";
    }
    if (g_game.empty()) {
        std::string saved = settings::ReadGameFolder(g_userData);
        if (!saved.empty()) {
            g_game = fs::path(saved);
            source = "settings.toml [paths] game";
            if (!IsGameFolder(g_game)) {
                Log("[paths] %s (settings.toml) has no default.xex / default.rcf", g_game.c_str());
                g_game.clear();
            }
        }
    }
    if (!askForGame && g_game.empty()) {
        Log("[paths] no game folder yet");
        Log("[paths] exe %s, mods %s, userdata %s, languages %s, data %s", g_exeDir.c_str(), g_mods.c_str(),
            g_userData.c_str(), g_languages.c_str(), g_data.c_str());
        return true;
    }
    if (g_game.empty()) {
        Log("[paths] no game folder: asking for it");
        g_game = PickGameFolder(nullptr);
        g_chosenNow = !g_game.empty();
        source = "chosen now (saved to settings.toml)";
    }
    if (g_game.empty()) {
        Log("[paths] no game folder: give --game <folder>, put the game in %s or set [paths] game in %s",
            (player / "game").c_str(), (g_userData / "settings.toml").c_str());
        plat::ShowMessageBox(DIALOG_TITLE,
                             "Sem a pasta do jogo não dá para abrir o VelkorRecomp.\n\nColoque os arquivos do jogo "
                             "(default.xex, default.rcf...) na pasta game\\ ao lado do executável do jogo, ou abra "
                             "de novo e escolha a pasta.",
                             plat::MessageKind::Error, nullptr);
        return false;
    }
    if (g_xex.empty()) g_xex = g_game / "default.xex";

    Log("[paths] exe %s%s", g_exeDir.c_str(), devSuffix);
    Log("[paths] game %s (%s)", g_game.c_str(), source);
    Log("[paths] mods %s, userdata %s", g_mods.c_str(), g_userData.c_str());
    Log("[paths] languages %s, data %s%s", g_languages.c_str(), g_data.c_str(),
        IsDirectory(g_data) ? "" : " (missing: no subtitles text, symbols or HD AI Remaster)");
    return true;
}

const fs::path& ExeDir() { return g_exeDir; }
const fs::path& Game() { return g_game; }
const fs::path& Mods() { return g_mods; }
const fs::path& UserData() { return g_userData; }
const fs::path& Languages() { return g_languages; }
const fs::path& Data() { return g_data; }
const fs::path& Xex() { return g_xex; }
const fs::path& Image() { return g_image; }
bool GameChosenNow() { return g_chosenNow; }

} // namespace paths
