#pragma once

#include <QString>

namespace mirelva::WebPassword {

// PBKDF2-HMAC-SHA256 rounds of a new hash: slow enough to make guessing a
// stolen web.ini expensive, quick enough for one login (about 0.1 s here).
constexpr int kIterations = 120000;

// "pbkdf2-sha256$ROUNDS$SALT$HASH", salt and hash in base64; a new random
// salt each time.
QString hash(const QString &password, int iterations = kIterations);
// Whether the password gives the stored hash; a stored text in any other
// form never matches.
bool verify(const QString &password, const QString &stored);
QByteArray pbkdf2Sha256(const QByteArray &password, const QByteArray &salt, int iterations);

// `mirelva --set-web-password`: reads the password from the terminal without
// echo (twice), or one line from standard input when it is no terminal, and
// stores its hash in web.ini. Returns the exit status.
int setFromStandardInput();

} // namespace mirelva::WebPassword
