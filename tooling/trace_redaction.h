#pragma once
// What a trace keeps out unless asked to keep secrets: the values of the
// Cookie, Set-Cookie, Authorization and Proxy-Authorization headers, form
// fields and query parameters whose names look like passwords or tokens,
// passwords in database connection texts. Each becomes "[redacted]" with
// its length, so a reader still sees that something was sent and how much.

#include <string>
#include <string_view>

namespace velmar {

// "[redacted] (N bytes)".
std::string RedactedMark(std::size_t length);

// A field name that looks like a password or a token ("password", "pwd",
// "passwd", "token", "secret", "api_key", "auth", "session" and names that
// hold one of them), compared without letter case.
bool LooksSecretName(std::string_view name);

// JavaScript whose value may be a secret: it names a password-like field
// (`document.getElementById('password').value`) or reads cookies.
bool ReadsSecret(std::string_view code);

// A header block (request or response head, lines ended by CR LF or LF):
// the values of the secret headers redacted, the rest as it was.
std::string RedactHead(std::string_view head);

// Request bytes as written: the head as RedactHead does, secret query
// parameters of the request line, and secret fields of a form body
// (application/x-www-form-urlencoded or multipart/form-data).
std::string RedactRequest(std::string_view request);

// `a=1&password=x`: the values of secret names redacted.
std::string RedactUrlEncoded(std::string_view fields);

// A connection text ("host,user,password,db" of a MySQL open, or an ODBC
// "DSN=..;PWD=..;"): the password redacted.
std::string RedactConnectionText(std::string_view text);

// A statement's text (as written or expanded) with the secrets it hands
// over redacted: the value of a secret `header`, the cookies of
// `setcookies`, the value of a secret field of `add`/`addx`, the password of
// a database open, and secret query parameters of any URL in it.
std::string RedactStatementText(std::string_view keyword, std::string_view text);

}  // namespace velmar
