#pragma once
// The release of the programs, as the build names it: what --version, the
// manager's about box and the Debian package say. The window captions keep
// their fixed text.

namespace velmar {

inline constexpr char kVersion[] = VELMAR_VERSION;

}  // namespace velmar
