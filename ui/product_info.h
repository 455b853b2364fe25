#pragma once
// The product's names as the desktop programs show them.

namespace velmar {

// Web-site name in the caption suffix of script windows and the tray menu's
// support address.
inline constexpr char kProductSiteName[] = "velmar.org";
inline constexpr char kProductSiteAddress[] = "https://velmar.org/";

}  // namespace velmar
