#pragma once
// The program's one diagnostic sink, "VelkorSetup.log" next to the program
// (or in the temporary folder). Each call writes one line: the formatted text
// and a line feed, flushed before it returns. Safe from any thread.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace settings::prompts {
// Button-prompt style of the player; this program always uses the game's own icons.
int Style();
bool Draw(char32_t icon, uint32_t style, int width, int height, const uint32_t* pixels,
          std::vector<uint32_t>& rgba);
} // namespace settings::prompts

namespace rcf_overlay {
// May replace the data; returns true when it changed it.
using EntryPatcher = std::function<bool(std::vector<uint8_t>& data)>;
void RegisterEntryRewrite(const std::string& archive, const std::string& entry,
                          const std::string& label, EntryPatcher patcher);
} // namespace rcf_overlay
