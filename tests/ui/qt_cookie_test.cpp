// The script windows and the scripts share the home folder's cookie store:
// a cookie a page receives lands in cookies.txt (where resumeiecookies reads
// it) and a cookie stored there (as saveiecookies does) goes with the
// windows' next requests. A small loopback HTTP server plays the web site.

#include <QTcpServer>
#include <QTcpSocket>
#include <QWebEnginePage>
#include <map>

#include "http/cookie_store.h"
#include "qt_fixture.h"
#include "ui/script_window.h"

namespace velmar::testing {
namespace {

// Answers GET /set with a cookie and every other path with the request's
// Cookie header as the page's title.
class CookieSite : public QObject {
 public:
  CookieSite() {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
          buffers_.erase(socket);
          socket->deleteLater();
        });
      }
    });
  }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + path;
  }

 private:
  void Read(QTcpSocket* socket) {
    QByteArray& buffer = buffers_[socket];
    buffer += socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) return;
    const QByteArray head = buffer.left(end);
    buffer.clear();
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    const QByteArray path = requestLine.value(1);
    QByteArray cookies;
    for (const QByteArray& line : lines) {
      if (line.toLower().startsWith("cookie:")) cookies = line.mid(7).trimmed();
    }
    QByteArray extra;
    if (path == "/set") extra = "Set-Cookie: fromPage=abc123; Path=/\r\n";
    const QByteArray body = "<html><head><title>" + (cookies.isEmpty() ? "none" : cookies) +
                            "</title></head><body>ok</body></html>";
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n" + extra +
                  "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket->disconnectFromHost();
  }

  QTcpServer server_;
  std::map<QTcpSocket*, QByteArray> buffers_;
};

using QtCookieTest = QtHostTest;

TEST_F(QtCookieTest, PagesAndScriptsShareTheStoreBothWays) {
  CookieSite site;
  const std::string open = "openwindow c " + site.url("/set");
  ScriptInstance* s = Start("s", Lines({open.c_str(), "while 1", "{", "pause 20", "}"}));
  const CookieStore store(dir.path() / "cookies.txt");
  // The page's cookie reaches the store.
  ASSERT_TRUE(WaitUntil([&] { return store.GetCookies(site.url("/")) == "fromPage=abc123"; }));

  // A cookie saved into the store by a script (or another program) goes with
  // the window's next request.
  CookieStore writer(dir.path() / "cookies.txt");
  ASSERT_TRUE(writer.SetCookie(site.url("/"),
                               "fromScript=xyz; path=/; expires=Sat, 01-Jan-3000 00:00:00 GMT"));
  ScriptWindow* window = host->window("c");
  ASSERT_NE(window, nullptr);
  // The store's file watcher copies it into the browser.
  window->navigate(QString::fromStdString(site.url("/echo")));
  ASSERT_TRUE(WaitUntil([&] {
    const QString title = window->page()->title();
    return title.contains("fromScript=xyz") && title.contains("fromPage=abc123");
  })) << window->page()->title().toStdString();
  // Both stay in the store.
  const std::string both = store.GetCookies(site.url("/"));
  EXPECT_NE(both.find("fromPage=abc123"), std::string::npos) << both;
  EXPECT_NE(both.find("fromScript=xyz"), std::string::npos) << both;
  host->stopScript(*s);
  EXPECT_TRUE(Ended(s));
}

}  // namespace
}  // namespace velmar::testing
