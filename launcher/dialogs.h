#pragma once
// Native two-button question box, usable before any window exists.
#include <initializer_list>
#include <string>

// Shows a modal message box, attached to the installer window once it exists,
// with the two `buttons` in the given order: button 0
// answers the Return key, button 1 the Escape key. `warning` picks the warning
// kind instead of the information kind. Returns 0 or 1 for the button pressed,
// or -1 when the box cannot be shown, is closed without a button, or `buttons`
// does not hold exactly two labels.
int AskButtons(const char* title, const std::string& text,
               std::initializer_list<const char*> buttons, bool warning);

// Replaces what AskButtons shows, for tests that answer the questions
// themselves (null restores the real box). Not for use by the program.
using AskButtonsFunction = int (*)(const char* title, const std::string& text,
                                   std::initializer_list<const char*> buttons, bool warning);
void SetAskButtonsForTesting(AskButtonsFunction function);
