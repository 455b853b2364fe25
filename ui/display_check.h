#pragma once
// Start-up of a desktop program where no display can be opened: a clear
// message and exit status 2 instead of an abort inside Qt. Called by the
// programs' main before QApplication exists.

#include <string>

namespace velmar {

// Exit status of a desktop program that found no display.
inline constexpr int kNoDisplayExitStatus = 2;

// Empty when Qt will find a display for its platform (QT_QPA_PLATFORM, or
// the session's Wayland or X11 display); otherwise why not.
std::string MissingDisplayReason();

// Writes "<program>: <reason>" to standard error and exits with status 2
// when MissingDisplayReason() is not empty.
void ExitUnlessDisplayAvailable(const char* programName);

}  // namespace velmar
