#pragma once
// One cookie store for the scripts and the script windows: cookies the pages
// receive go into the shared cookies.txt of the home folder, and what the
// scripts (or other programs of the user) put there reaches the pages'
// requests. The store's file lock keeps concurrent writers from losing
// entries; this class only copies between the store and the browser.

#include <QNetworkCookie>
#include <QObject>
#include <QTimer>
#include <filesystem>
#include <map>
#include <string>

#include "http/cookie_store.h"

class QFileSystemWatcher;
class QWebEngineCookieStore;
class QWebEngineProfile;

namespace velmar {

class CookieBridge : public QObject {
  Q_OBJECT
 public:
  CookieBridge(QWebEngineProfile* profile, std::filesystem::path storeFile,
               QObject* parent = nullptr);

  // Copies every cookie of the store into the browser now (before a window
  // navigates, so its request carries what a script has just saved).
  void loadStore();

 private:
  void OnBrowserCookie(const QNetworkCookie& cookie);
  static std::string Key(const std::string& domain, const std::string& path,
                         const std::string& name);

  CookieStore store_;
  QWebEngineCookieStore* browser_;
  QFileSystemWatcher* watcher_;
  QTimer reload_;
  // Cookie values the two sides agree on, so that a copy in one direction
  // does not travel back.
  std::map<std::string, std::string> synced_;
};

}  // namespace velmar
