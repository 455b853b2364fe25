// vlmpack on the desktop layer, on Qt's offscreen platform: the scripts run
// with the Qt host (show and the tray statements have no visible effect,
// `js` works), the program ends after them, and SIGTERM quits it.

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace velmar {
namespace {

using testing::ProcessResult;
using testing::RunProcess;
using testing::TempDir;

#ifdef VLMPACK_DESKTOP_TESTS

const std::vector<std::string> kOffscreen = {"QT_QPA_PLATFORM=offscreen",
                                             "QTWEBENGINE_DISABLE_SANDBOX=1",
                                             "QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu"};

TEST(VlmpackDesktop, RunsTheBootScriptsWithTheQtHost) {
  TempDir home;
  const std::string out = (home.path() / "result.txt").string();
  home.Write("Script/main.vlm",
             "showtray\nshowtray\nhidetray\nshow not printed\njs 1+2\n"
             "eval [@writefile<<<" +
                 out + "<<<js=[#return] status=[#status] param=[#param]<<<w]\n");
  home.Write("Script/second.vlm", "pause 100\n");
  home.Write("Velmar.boot", "m^main.vlm^p\ns^second.vlm^\n");
  home.Write("Config.ini", "[setting]\nappname=Desktop test\n");
  const ProcessResult r =
      RunProcess({VLMPACK_PATH, "--home", home.path().string()}, {}, 120, kOffscreen);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // The desktop runner prints none of the scripts' requests.
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(testing::ReadFile(out), "js=3 status=1 param=p");
  EXPECT_EQ(r.err.find("running headless"), std::string::npos) << r.err;
}

TEST(VlmpackDesktop, SigtermRunsTheQuitProcedure) {
  TempDir home;
  const std::string ready = (home.path() / "ready.txt").string();
  home.Write("Script/loop.vlm",
             "eval [@writefile<<<" + ready + "<<<ready<<<w]\nwhile 1\n{\npause 50\n}\n");
  home.Write("Velmar.boot", "l^loop.vlm^\n");
  std::vector<std::string> env = kOffscreen;
  const std::string shell =
      "\"$0\" --home \"$1\" & pid=$!\n"
      "n=0; until [ -f \"$2\" ]; do sleep 0.05; n=$((n+1)); [ $n -gt 1200 ] && break; done\n"
      "kill -TERM $pid; wait $pid; echo \"status=$?\"\n";
  const ProcessResult r =
      RunProcess({"/bin/sh", "-c", shell, VLMPACK_PATH, home.path().string(), ready}, {}, 120, env);
  EXPECT_EQ(r.out, "status=0\n") << r.err;
}

// On a private X server the hot key of Config.ini reaches the scripts as the
// event "hotkey" of "system" (Xvfb and xdotool are required in CI).
TEST(VlmpackDesktop, HotKeyReachesTheScriptsOnAnXServer) {
  if (RunProcess({"/bin/sh", "-c", "command -v Xvfb && command -v xdotool"}).exitCode != 0) {
    VELMAR_SKIP_WITHOUT("Xvfb or xdotool");
  }
  TempDir home;
  const std::string ready = (home.path() / "ready.txt").string();
  const std::string got = (home.path() / "got.txt").string();
  home.Write("Config.ini", "[setting]\nhotkey=CTRL + ALT + H\n");
  home.Write("Script/keys.vlm", "<main>\neval [@writefile<<<" + ready +
                                    "<<<ready<<<w]\nsuspend\n<on_system_hotkey>\n"
                                    "eval [@writefile<<<" +
                                    got + "<<<[#window_name] [#window_event]<<<w]\nexit\n");
  home.Write("Velmar.boot", "k^keys.vlm^\n");
  const std::string shell =
      "dir=$(dirname \"$2\")\n"
      "Xvfb -displayfd 3 -nolisten tcp 3>\"$dir/display\" 2>/dev/null & xvfb=$!\n"
      "n=0; until [ -s \"$dir/display\" ]; do sleep 0.05; n=$((n+1)); [ $n -gt 400 ] && break; "
      "done\n"
      "export DISPLAY=:$(cat \"$dir/display\") QT_QPA_PLATFORM=xcb\n"
      "\"$0\" --home \"$1\" & pid=$!\n"
      "n=0; until [ -f \"$2\" ]; do sleep 0.05; n=$((n+1)); [ $n -gt 1200 ] && break; done\n"
      "sleep 0.3; xdotool key ctrl+alt+h\n"
      "n=0; while kill -0 $pid 2>/dev/null; do sleep 0.05; n=$((n+1));\n"
      "  [ $n -gt 400 ] && kill -TERM $pid; done\n"
      "wait $pid; echo \"status=$?\"; kill $xvfb\n";
  const ProcessResult r = RunProcess(
      {"/bin/sh", "-c", shell, VLMPACK_PATH, home.path().string(), ready}, {}, 120, kOffscreen);
  EXPECT_EQ(r.out, "status=0\n") << r.err;
  EXPECT_EQ(testing::ReadFile(got), "system hotkey") << r.err;
}

#endif

TEST(VlmpackDesktop, FallsBackToHeadlessWithoutADisplay) {
  TempDir home;
  home.Write("Script/main.vlm", "show printed\n");
  home.Write("Velmar.boot", "m^main.vlm^\n");
  // No display of any kind: the runner says so and runs in the console.
  const ProcessResult r =
      RunProcess({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
                  VLMPACK_PATH, "--home", home.path().string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "show: printed\nstate: exit\n");
  EXPECT_NE(r.err.find("running headless"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace velmar
