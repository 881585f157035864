#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

extern char** environ;

// kivo-sim on a pseudo-terminal for one run: started with the given options plus the
// link and the request log, ended (and waited for) when the object goes.
class VirtualInstrument {
  public:
    VirtualInstrument(const QString& link, const QString& log, const QStringList& options)
        : m_link(link), m_log(log) {
        const std::string sim = std::string(KIVO_BINARY_DIR) + "/tools/kivo-sim/kivo-sim";
        std::vector<std::string> args = {sim, "--link", link.toStdString(), "--log",
                                         log.toStdString()};
        for (const QString& o : options) args.push_back(o.toStdString());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, sim.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
    }
    ~VirtualInstrument() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    VirtualInstrument(const VirtualInstrument&) = delete;
    VirtualInstrument& operator=(const VirtualInstrument&) = delete;

    bool running() const { return m_pid > 0 && ::kill(m_pid, 0) == 0; }
    bool linked() const { return QFile::exists(m_link); }
    // SIGUSR1: the instrument stops answering, as if the cable were pulled.
    void pullCable() const {
        if (m_pid > 0) ::kill(m_pid, SIGUSR1);
    }

    // The requests received so far, in order, without their times.
    QStringList requests() const {
        QFile file(m_log);
        QStringList texts;
        if (!file.open(QIODevice::ReadOnly)) return texts;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const qsizetype tab = line.indexOf('\t');
            if (tab >= 0) texts << QString::fromLatin1(line.mid(tab + 1));
        }
        return texts;
    }

  private:
    QString m_link;
    QString m_log;
    pid_t m_pid = -1;
};
