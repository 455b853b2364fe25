#include "ui/cookie_bridge.h"

#include <QDateTime>
#include <QFile>
#include <QFileSystemWatcher>
#include <QLocale>
#include <QUrl>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

namespace velmar {

CookieBridge::CookieBridge(QWebEngineProfile* profile, std::filesystem::path storeFile,
                           QObject* parent)
    : QObject(parent),
      store_(std::move(storeFile)),
      browser_(profile->cookieStore()),
      watcher_(new QFileSystemWatcher(this)) {
  connect(browser_, &QWebEngineCookieStore::cookieAdded, this, &CookieBridge::OnBrowserCookie);
  // The store is replaced by a rename on every write, so the folder is
  // watched as well as the file.
  const QString file = QFile::decodeName(store_.file().string().c_str());
  const QString folder = QFile::decodeName(store_.file().parent_path().string().c_str());
  watcher_->addPath(folder);
  if (QFile::exists(file)) watcher_->addPath(file);
  reload_.setSingleShot(true);
  reload_.setInterval(0);
  connect(&reload_, &QTimer::timeout, this, [this, file] {
    if (QFile::exists(file) && !watcher_->files().contains(file)) watcher_->addPath(file);
    loadStore();
  });
  connect(watcher_, &QFileSystemWatcher::fileChanged, &reload_, qOverload<>(&QTimer::start));
  connect(watcher_, &QFileSystemWatcher::directoryChanged, &reload_, qOverload<>(&QTimer::start));
  loadStore();
}

std::string CookieBridge::Key(const std::string& domain, const std::string& path,
                              const std::string& name) {
  std::string key = domain;
  key += '\t';
  key += path;
  key += '\t';
  key += name;
  return key;
}

void CookieBridge::loadStore() {
  for (const StoredCookie& stored : store_.AllCookies()) {
    // A leading dot makes a cookie for the domain and its subdomains.
    std::string domain = stored.domain;
    if (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
    const std::string key =
        Key(stored.includeSubdomains ? "." + domain : domain, stored.path, stored.name);
    auto it = synced_.find(key);
    if (it != synced_.end() && it->second == stored.value) continue;
    synced_[key] = stored.value;
    QNetworkCookie cookie(QByteArray::fromStdString(stored.name),
                          QByteArray::fromStdString(stored.value));
    const QString host = QString::fromStdString(domain);
    if (stored.includeSubdomains) cookie.setDomain(QLatin1Char('.') + host);
    cookie.setPath(QString::fromStdString(stored.path));
    cookie.setSecure(stored.secure);
    cookie.setHttpOnly(stored.httpOnly);
    if (stored.expires > 0) {
      cookie.setExpirationDate(QDateTime::fromSecsSinceEpoch(stored.expires, Qt::UTC));
    }
    QUrl origin;
    origin.setScheme(stored.secure ? QStringLiteral("https") : QStringLiteral("http"));
    origin.setHost(host);
    origin.setPath(QStringLiteral("/"));
    browser_->setCookie(cookie, origin);
  }
}

void CookieBridge::OnBrowserCookie(const QNetworkCookie& cookie) {
  std::string domain = cookie.domain().toStdString();
  const bool forSubdomains = !domain.empty() && domain.front() == '.';
  const std::string path = cookie.path().isEmpty() ? std::string("/") : cookie.path().toStdString();
  const std::string name = cookie.name().toStdString();
  const std::string value = cookie.value().toStdString();
  // The store keeps a host's own cookies under the bare host name and
  // domain cookies under the dotted name.
  const std::string key = Key(domain, path, name);
  auto it = synced_.find(key);
  if (it != synced_.end() && it->second == value) return;
  synced_[key] = value;
  const std::string host = forSubdomains ? domain.substr(1) : domain;
  if (host.empty()) return;
  const std::string url = std::string(cookie.isSecure() ? "https://" : "http://") + host + path;
  std::string text = name + "=" + value + "; path=" + path;
  if (forSubdomains) text += "; domain=" + domain;
  if (!cookie.isSessionCookie()) {
    text +=
        "; expires=" +
        QLocale::c()
            .toString(cookie.expirationDate().toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss"))
            .toStdString() +
        " GMT";
  }
  if (cookie.isSecure()) text += "; secure";
  if (cookie.isHttpOnly()) text += "; httponly";
  store_.SetCookie(url, text);
}

}  // namespace velmar
