#pragma once
// Every text the desktop layer shows a person in either program: the
// captions of message boxes, the input dialog. Kept in UTF-8 and used
// exactly as written (the tests compare them byte for byte); the programs'
// own texts are in manager/manager_texts.h and runner/runner_texts.h.

namespace velmar::ui_text {

// Caption of message boxes and alerts.
inline constexpr char kManagerCaption[] = "提示信息";
inline constexpr char kRunnerCaption[] = "提示窗口";

// The input dialog of `prompt`.
inline constexpr char kInputTitle[] = "请输入..";
inline constexpr char kInputOk[] = "确定";

// Why a desktop program cannot start (on standard error, with its name).
inline constexpr char kNoWaylandDisplay[] = "no Wayland display (WAYLAND_DISPLAY is not set)";
inline constexpr char kNoDisplay[] = "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
inline constexpr char kCannotOpenDisplay[] = "cannot open the display ";  // + the display's name

}  // namespace velmar::ui_text
