#include "lab/web_users.h"

#include <sodium.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace lab {

bool InitCrypto() { return sodium_init() >= 0; }

QString HashPassword(const QString& password) {
    const QByteArray utf8 = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, utf8.constData(), size_t(utf8.size()),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return {};
    return QString::fromLatin1(out);
}

bool PasswordMatches(const QString& hash, const QString& password) {
    static const QString nobody = HashPassword(QStringLiteral("kivo-lab: no such account"));
    const QByteArray stored = (hash.isEmpty() ? nobody : hash).toLatin1();
    const QByteArray utf8 = password.toUtf8();
    const bool matches =
        crypto_pwhash_str_verify(stored.constData(), utf8.constData(), size_t(utf8.size())) == 0;
    return matches && !hash.isEmpty();
}

QString AccountNameProblem(const QString& name) {
    if (name.isEmpty() || name.size() > 64) return QStringLiteral("用户名须为 1 到 64 个字符");
    for (const QChar c : name)
        if (c.category() == QChar::Other_Control || c.isSpace())
            return QStringLiteral("用户名不能含空白或控制字符");
    return {};
}

QString PasswordProblem(const QString& password) {
    if (password.size() < 8) return QStringLiteral("密码至少 8 个字符");
    if (password.toUtf8().size() > 1024) return QStringLiteral("密码过长");
    return {};
}

void StoreWebUser(server::PgConnection& db, const QString& name, const QString& hash) {
    server::PgParams params;
    params.add(name).add(hash);
    db.exec(
        "INSERT INTO kivo_web_users (name, hash) VALUES ($1, $2) "
        "ON CONFLICT (name) DO UPDATE SET hash = EXCLUDED.hash",
        params);
}

std::optional<QString> WebUserHash(server::PgConnection& db, const QString& name) {
    server::PgParams params;
    params.add(name);
    const server::PgResult r = db.exec("SELECT hash FROM kivo_web_users WHERE name = $1", params);
    if (r.rows() == 0) return std::nullopt;
    return r.text(0, 0);
}

std::optional<QString> ReadSecretLine(std::FILE* in, std::FILE* out, const char* prompt) {
    const int fd = fileno(in);
    const bool terminal = isatty(fd) != 0;
    termios saved{};
    if (terminal) {
        std::fputs(prompt, out);
        std::fflush(out);
        tcgetattr(fd, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    std::string line;
    int c = 0;
    bool any = false;
    while ((c = std::fgetc(in)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (line.size() < 4096) line.push_back(char(c));
    }
    if (terminal) tcsetattr(fd, TCSAFLUSH, &saved);
    if (!any) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const QString text = QString::fromStdString(line);
    sodium_memzero(line.data(), line.size());
    return text;
}

}  // namespace lab
