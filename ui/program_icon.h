#pragma once
// The icon of a desktop program: the installed theme's (the package puts
// the programs' pictures into the icon theme), else one drawn here, so that
// a program moved to a machine without the package still shows its own.

#include <QChar>
#include <QIcon>
#include <QString>

namespace velmar {

enum class IconShape { kRound, kRoundedSquare };

// `themeName` is the icon's name in the theme ("tamarind", "vlmpack");
// the drawn one is the letter in white on the product's brown.
QIcon ProgramIcon(const QString& themeName, QChar letter, IconShape shape);

}  // namespace velmar
