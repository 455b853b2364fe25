// The desktop seams: the hot-key text and its key table, the global hot key
// on a real X server (Xvfb, with xdotool pressing the keys), the tray icon where the
// desktop has none, and the start-up check for a display.

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <cstdlib>
#include <optional>

#include "qt_fixture.h"
#include "ui/display_check.h"
#include "ui/global_hot_key.h"
#include "ui/hot_key_text.h"
#include "ui/tray_icon.h"
#include "x_server.h"

// The key symbols only: Xlib.h's macros (None, Status, ...) would clash.
#include <X11/XF86keysym.h>
#include <X11/keysym.h>
extern "C" char* XKeysymToString(unsigned long keysym);

#include <QSystemTrayIcon>

namespace velmar::testing {
namespace {

TEST(HotKeyText, ModifiersFromTheWordsAndTheKeyFromTheLastByte) {
  const HotKey ctrl9 = HotKeyFromText("CTRL + 9");
  EXPECT_TRUE(ctrl9.control && !ctrl9.alt && ctrl9.keyCode == '9');
  const HotKey altF = HotKeyFromText("ALT + F");
  EXPECT_TRUE(!altF.control && altF.alt && altF.keyCode == 'F');
  const HotKey both = HotKeyFromText("CTRL + ALT + F");
  EXPECT_TRUE(both.control && both.alt && both.keyCode == 'F');
  // The byte is the code unchanged: a lower-case letter is a keypad key,
  // and a text ending in a space ends in the space bar's code.
  EXPECT_EQ(HotKeyFromText("CTRL + f").keyCode, 0x66);
  EXPECT_STREQ(FindKey(0x66)->name, "Num 6");
  EXPECT_STREQ(FindKey(HotKeyFromText("CTRL + ").keyCode)->name, "Space");
  EXPECT_FALSE(HotKeyFromText("").valid());
  EXPECT_FALSE(HotKeyFromText("ctrl + F").control);
}

// The virtual-key codes against the key symbols of the X headers.
TEST(HotKeyTable, CodesMapToTheXKeysOfTheSameKeys) {
  struct Expected {
    uint8_t code;
    unsigned long sym;
  };
  static constexpr Expected kExpected[] = {
      {'A', XK_a},           {'Z', XK_z},           {'0', XK_0},
      {'9', XK_9},           {0x70, XK_F1},         {0x74, XK_F5},
      {0x7B, XK_F12},        {0x87, XK_F24},        {0x60, XK_KP_0},
      {0x61, XK_KP_1},       {0x69, XK_KP_9},       {0x6A, XK_KP_Multiply},
      {0x6B, XK_KP_Add},     {0x6C, XK_KP_Separator}, {0x6D, XK_KP_Subtract},
      {0x6E, XK_KP_Decimal}, {0x6F, XK_KP_Divide},  {0x25, XK_Left},
      {0x26, XK_Up},         {0x27, XK_Right},      {0x28, XK_Down},
      {0x21, XK_Prior},      {0x22, XK_Next},       {0x23, XK_End},
      {0x24, XK_Home},       {0x2D, XK_Insert},     {0x2E, XK_Delete},
      {0x08, XK_BackSpace},  {0x09, XK_Tab},        {0x0D, XK_Return},
      {0x1B, XK_Escape},     {0x20, XK_space},      {0x13, XK_Pause},
      {0x03, XK_Break},      {0x0C, XK_Clear},      {0x14, XK_Caps_Lock},
      {0x29, XK_Select},     {0x2B, XK_Execute},    {0x2C, XK_Print},
      {0x2F, XK_Help},       {0x5B, XK_Super_L},    {0x5C, XK_Super_R},
      {0x5D, XK_Menu},       {0x90, XK_Num_Lock},   {0x91, XK_Scroll_Lock},
      {0xBA, XK_semicolon},  {0xBB, XK_equal},      {0xBC, XK_comma},
      {0xBD, XK_minus},      {0xBE, XK_period},     {0xBF, XK_slash},
      {0xC0, XK_grave},      {0xDB, XK_bracketleft}, {0xDC, XK_backslash},
      {0xDD, XK_bracketright}, {0xDE, XK_apostrophe}, {0xE2, XK_less},
      {0x5F, XF86XK_Sleep},  {0xA6, XF86XK_Back},   {0xA7, XF86XK_Forward},
      {0xA8, XF86XK_Reload}, {0xA9, XF86XK_Stop},   {0xAA, XF86XK_Search},
      {0xAB, XF86XK_Favorites}, {0xAC, XF86XK_HomePage}, {0xAD, XF86XK_AudioMute},
      {0xAE, XF86XK_AudioLowerVolume}, {0xAF, XF86XK_AudioRaiseVolume},
      {0xB0, XF86XK_AudioNext}, {0xB1, XF86XK_AudioPrev}, {0xB2, XF86XK_AudioStop},
      {0xB3, XF86XK_AudioPlay}, {0xB4, XF86XK_Mail}, {0xB5, XF86XK_AudioMedia},
      {0xB6, XF86XK_MyComputer}, {0xB7, XF86XK_Calculator},
  };
  for (const Expected& e : kExpected) {
    const KeyInfo* info = FindKey(e.code);
    ASSERT_NE(info, nullptr) << int(e.code);
    EXPECT_EQ(info->x11KeySym, e.sym) << info->name;
  }
  // Every entry names a key symbol X knows, under its own code.
  int entries = 0;
  for (int code = 0; code < 256; ++code) {
    const KeyInfo* info = FindKey(static_cast<uint8_t>(code));
    if (!info) continue;
    ++entries;
    EXPECT_EQ(info->keyCode, code);
    EXPECT_NE(XKeysymToString(info->x11KeySym), nullptr) << info->name;
  }
  EXPECT_GE(entries, static_cast<int>(std::size(kExpected)));
  // Unassigned codes, mouse buttons and the modifier keys name nothing to grab.
  for (uint8_t code : {0x00, 0x01, 0x02, 0x10, 0x11, 0x12, 0x3A, 0x40, 0xA0, 0xA5, 0xFF}) {
    EXPECT_EQ(FindKey(code), nullptr) << int(code);
  }
}

TEST(DisplayCheck, NoDisplayIsReportedAndEndsWithStatusTwo) {
  ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
  ScopedEnv display("DISPLAY", nullptr);
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  EXPECT_FALSE(MissingDisplayReason().empty());
  {
    ScopedEnv badX("DISPLAY", ":987");  // nothing listens there
    EXPECT_NE(MissingDisplayReason().find(":987"), std::string::npos);
  }
  {
    ScopedEnv offscreen("QT_QPA_PLATFORM", "offscreen");
    EXPECT_TRUE(MissingDisplayReason().empty());
  }
  EXPECT_EXIT(ExitUnlessDisplayAvailable("tamarind"), ::testing::ExitedWithCode(2),
              "tamarind: no display");
}

TEST(GlobalHotKey, UnavailableWithoutDisplayAndInvalidWithoutKey) {
  ScopedEnv display("DISPLAY", nullptr);
  GlobalHotKey key;
  EXPECT_EQ(key.registerKey("CTRL + 9"), GlobalHotKey::Result::kUnavailable);
  EXPECT_EQ(key.registerKey("CTRL + :"), GlobalHotKey::Result::kInvalid);  // 0x3A: no key
  EXPECT_EQ(key.registerKey(""), GlobalHotKey::Result::kInvalid);
}

TEST(GlobalHotKey, FiresOnARealXServerWhateverTheLockKeys) {
  if (const std::string missing = XServer::MissingTools(); !missing.empty()) {
    VELMAR_SKIP_WITHOUT(missing);
  }
  XServer server;
  ASSERT_FALSE(server.name().empty()) << "Xvfb did not start";
  GlobalHotKey key(server.name());
  ASSERT_EQ(key.registerKey("CTRL + 9"), GlobalHotKey::Result::kRegistered);
  QSignalSpy fired(&key, &GlobalHotKey::activated);
  ASSERT_TRUE(server.Press("ctrl+9"));
  ASSERT_TRUE(WaitUntil([&] { return fired.count() == 1; }));
  // With Num Lock on, still.
  ASSERT_TRUE(server.Press("Num_Lock"));
  ASSERT_TRUE(server.Press("ctrl+9"));
  ASSERT_TRUE(WaitUntil([&] { return fired.count() == 2; }));
  ASSERT_TRUE(server.Press("Num_Lock"));
  // Other keys and the bare key do not fire it.
  ASSERT_TRUE(server.Press("9"));
  ASSERT_TRUE(server.Press("ctrl+8"));
  // A second program cannot take the same key.
  GlobalHotKey rival(server.name());
  EXPECT_EQ(rival.registerKey("CTRL + 9"), GlobalHotKey::Result::kRefused);
  // A new key replaces the old one.
  ASSERT_EQ(key.registerKey("CTRL + ALT + F"), GlobalHotKey::Result::kRegistered);
  ASSERT_TRUE(server.Press("ctrl+alt+f"));
  ASSERT_TRUE(WaitUntil([&] { return fired.count() == 3; }));
  EXPECT_EQ(rival.registerKey("CTRL + 9"), GlobalHotKey::Result::kRegistered);
  // Beyond letters and digits: "t" is the code of F5, "%" that of the left
  // arrow.
  ASSERT_EQ(key.registerKey("CTRL + t"), GlobalHotKey::Result::kRegistered);
  ASSERT_TRUE(server.Press("ctrl+t"));  // the letter key is another key
  ASSERT_TRUE(server.Press("ctrl+F5"));
  ASSERT_TRUE(WaitUntil([&] { return fired.count() == 4; }));
  ASSERT_EQ(key.registerKey("ALT + %"), GlobalHotKey::Result::kRegistered);
  ASSERT_TRUE(server.Press("alt+Left"));
  ASSERT_TRUE(WaitUntil([&] { return fired.count() == 5; }));
  EXPECT_EQ(fired.count(), 5);
  // Xvfb's keyboard map stops at F12: F24 (code 0x87) is a valid key the
  // keyboard lacks, which is not the same as a desktop without global keys.
  EXPECT_EQ(key.registerKey("CTRL + \x87"), GlobalHotKey::Result::kNotOnKeyboard);
}

TEST(TrayIcon, ReportsADesktopWithoutTrayAndForwardsClicks) {
  TrayIcon tray(QIcon{});
  QSignalSpy unavailable(&tray, &TrayIcon::unavailable);
  QSignalSpy clicked(&tray, &TrayIcon::clicked);
  QSignalSpy rightClicked(&tray, &TrayIcon::rightClicked);
  tray.setToolTip("3 Scripts");
  EXPECT_EQ(tray.toolTip(), "3 Scripts");
  if (!TrayIcon::desktopHasTray()) {  // the offscreen platform has none
    EXPECT_FALSE(tray.show());
    EXPECT_EQ(unavailable.count(), 1);
  }
  Q_EMIT tray.icon()->activated(QSystemTrayIcon::Trigger);
  Q_EMIT tray.icon()->activated(QSystemTrayIcon::Context);
  Q_EMIT tray.icon()->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(clicked.count(), 1);
  EXPECT_EQ(rightClicked.count(), 1);
}

}  // namespace
}  // namespace velmar::testing
