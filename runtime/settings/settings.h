#pragma once
// The port's settings values and the reader of settings.toml in the user-data
// folder. The file is a small TOML subset: "[section]" headers, "key = value"
// lines, "#" comments; section and key names are case-insensitive.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace settings {

enum class WindowMode : uint8_t { Windowed, Borderless, Fullscreen };
enum class Aspect : uint8_t { Auto, R16_9, R16_10, R21_9, R32_9 };
enum class OverlayMode : uint8_t { Off, Fps, FrameTime, Full };
enum class AntiAliasing : uint8_t { Off, Fxaa, Smaa };
enum class Upscaler : uint8_t { Off, Dlss, Fsr };
enum class UpscalerQuality : uint8_t { Native, Quality, Balanced, Performance, UltraPerformance };
enum class ShaderCompilation : uint8_t { Async, Sync, Aggressive };
enum class AoQuality : uint8_t { Off, Low, High };

// The port's whole user configuration; the default constructor gives the defaults.
struct Values {
    int masterVolume = 100;
    int musicVolume = 100;
    int effectsVolume = 100;
    int voiceVolume = 100;
    WindowMode window = WindowMode::Windowed;
    bool vsync = false;
    int fpsLimit = 30;  // 0 = no limit
    int renderHeight = 720;
    Aspect aspect = Aspect::Auto;
    bool hud16x9 = true;
    OverlayMode overlay = OverlayMode::Off;
    AntiAliasing antiAliasing = AntiAliasing::Off;
    std::string gpuSafeMode = "off";
    bool gpuDiagnostics = false;
    Upscaler upscaler = Upscaler::Off;
    UpscalerQuality upscalerQuality = UpscalerQuality::Native;
    int sharpness = 0;
    int motionBlur = 100;
    int depthOfField = 100;
    int anisotropy = 16;
    int shadowSoftness = 100;
    ShaderCompilation shaderCompilation = ShaderCompilation::Async;
    bool hdTextures = true;
    bool textureDump = false;
    bool hdRemaster = false;
    std::string language = "english";
    bool ps2MojoColors = true;
    bool subtitles = false;
    int subtitleSize = 100;
    int subtitleBackground = 50;
    bool coopLeapfrog = true;  // false = piggyback
    bool invertAxis = false;
    bool autosave = true;
    bool skipCutscenes = true;
    bool freeCamera = false;
    int cameraSensitivity = 100;
    bool cameraInvertY = false;
    int cameraDistance = 100;
    AoQuality ssao = AoQuality::Off;
    bool gi = false;
    int giIntensity = 100;
    bool contactShadows = false;
    bool softShadows = false;
    bool devConsole = false;
    bool hulkSkin = false;
    std::string gamePath;  // empty = not set
    bool launcherAdvanced = false;
};

// Removes leading and trailing spaces, tabs, carriage returns and line feeds
// (nothing else).
std::string_view Trim(std::string_view text);

// One value of a "key = value" line. A value beginning with a double quote is a
// string: everything up to the next double quote (or the end), no escapes, so
// backslashes are literal; anything after the closing quote is ignored. Other
// values end at the first '#' (inline comment) and are trimmed. isString tells
// which kind it was (false for an empty value).
std::string ParseValue(std::string_view raw, bool& isString);

// The game folder remembered in userDataDir/settings.toml: the value of the
// first "game" key of the [paths] section, or empty (also when the file cannot
// be read or is not a regular file).
std::string ReadGameFolder(const std::filesystem::path& userDataDir);

// The same rule applied to the text of a settings file.
std::string GameFolderFromText(std::string_view text);

} // namespace settings
