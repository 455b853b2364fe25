#include "desktop_session.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace velmar::testing {
namespace {

std::string g_display;
std::vector<pid_t> g_children;
bool g_windowManager = false;
bool g_tray = false;

bool Installed(const char* tool) {
  return !QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty();
}

pid_t Spawn(const std::vector<std::string>& argv, int stdoutFd = -1) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int null = open("/dev/null", O_RDWR);
  dup2(null, 0);
  dup2(stdoutFd >= 0 ? stdoutFd : null, 1);
  // Their chatter would bury the tests' own output.
  dup2(null, 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

// Runs a tool to its end; its output.
std::string Run(const std::vector<std::string>& argv, int* status = nullptr) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = Spawn(argv, fds[1]);
  close(fds[1]);
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  if (status) *status = st;
  return out;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

}  // namespace

void DesktopSession::Start() {
  if (!Installed("Xvfb")) return;
  int fds[2];
  if (pipe(fds) != 0) return;
  // A screen of the size the placement rules are stated for; the server
  // picks a free display number and writes it once it accepts clients.
  const pid_t xvfb = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp",
                            "-screen", "0", "1024x768x24"},
                           -1);
  close(fds[1]);
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) {
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    return;
  }
  g_children.push_back(xvfb);
  g_display = ":" + number;
  setenv("DISPLAY", g_display.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  // The tests' own Qt platform theme choices stay out of the pictures.
  unsetenv("QT_QPA_PLATFORMTHEME");
  if (Installed("openbox")) {
    g_children.push_back(Spawn({"openbox", "--sm-disable"}));
    g_windowManager = WaitFor(
        [] {
          return Run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") !=
                 std::string::npos;
        },
        15000);
  }
  if (g_windowManager && Installed("trayer")) {
    g_children.push_back(Spawn({"trayer", "--edge", "top", "--align", "right", "--width", "10",
                                "--height", "24", "--SetDockType", "true"}));
    g_tray = WaitFor(
        [] {
          return Run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") !=
                     std::string::npos &&
                 Run({"xdotool", "search", "--class", "trayer"}).size() > 1;
        },
        15000);
    // The tray owns its selection a moment after its window appears.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
}

void DesktopSession::Stop() {
  for (auto it = g_children.rbegin(); it != g_children.rend(); ++it) {
    kill(*it, SIGTERM);
    waitpid(*it, nullptr, 0);
  }
  g_children.clear();
}

std::string DesktopSession::Missing() {
  std::string missing;
  for (const char* tool : {"Xvfb", "openbox", "trayer", "xdotool", "xprop"}) {
    if (!Installed(tool)) missing += missing.empty() ? tool : std::string(", ") + tool;
  }
  if (missing.empty() && g_display.empty()) missing = "a running Xvfb";
  if (missing.empty() && !g_windowManager) missing = "a running openbox";
  return missing;
}

bool DesktopSession::HasTray() {
  return g_tray;
}

const std::string& DesktopSession::Display() {
  return g_display;
}

QString DesktopSession::Xdotool(const QStringList& arguments, bool* ok) {
  std::vector<std::string> argv = {"xdotool"};
  for (const QString& a : arguments) argv.push_back(a.toStdString());
  // xdotool waits for nothing of ours, so the event loop can pause meanwhile.
  int status = 0;
  const std::string out = Run(argv, &status);
  if (ok) *ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return QString::fromStdString(out).trimmed();
}

void DesktopSession::MoveTo(QPoint global) {
  Xdotool({"mousemove", QString::number(global.x()), QString::number(global.y())});
  QTest::qWait(50);
}

void DesktopSession::ClickAt(QPoint global, int button) {
  MoveTo(global);
  Xdotool({"click", QString::number(button)});
  QTest::qWait(50);
}

void DesktopSession::Keys(const QString& keys) {
  Xdotool(QStringList{"key", "--clearmodifiers"} + keys.split(QLatin1Char(' ')));
  QTest::qWait(50);
}

QString DesktopSession::WindowId(const QWidget* widget) {
  const QWindow* handle = widget ? widget->window()->windowHandle() : nullptr;
  return handle ? QString::number(handle->winId()) : QString();
}

bool DesktopSession::Viewable(const QWidget* widget) {
  const QString id = WindowId(widget);
  if (id.isEmpty()) return false;
  // The client window and its ancestors up to the root: a frame that stays
  // mapped around an unmapped client is what a person sees as a black box.
  const std::string tree = Run({"xwininfo", "-id", id.toStdString(), "-tree"});
  const std::string self = Run({"xwininfo", "-id", id.toStdString()});
  if (self.find("IsViewable") != std::string::npos) return true;
  const auto parentAt = tree.find("Parent window id: ");
  if (parentAt == std::string::npos) return false;
  const std::string parent = tree.substr(parentAt + 18, tree.find(' ', parentAt + 18) - parentAt - 18);
  if (tree.find("(the root window)", parentAt) < tree.find('\n', parentAt)) return false;
  return Run({"xwininfo", "-id", parent}).find("IsViewable") != std::string::npos;
}

void DesktopSession::Shot(const QString& name) {
  const char* folder = std::getenv("VELMAR_UI_SHOTS");
  if (!folder || !*folder) return;
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  QDir().mkpath(QString::fromLocal8Bit(folder));
  screen->grabWindow(0).save(QString::fromLocal8Bit(folder) + QLatin1Char('/') + name + ".png");
}

}  // namespace velmar::testing
