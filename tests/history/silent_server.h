#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <cstring>
#include <thread>
#include <vector>

// A server that never answers, on 127.0.0.1 and a port of its own: it accepts every connection
// and, when told to, answers the login as a PostgreSQL server does (no password asked) and
// then nothing more, not even a cancel request. Connections stay open until it ends.
class SilentServer {
  public:
    enum class Mode { Mute, AfterLogin };

    explicit SilentServer(Mode mode) : m_mode(mode) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 64);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_stop = ::eventfd(0, EFD_CLOEXEC);
        m_thread = std::thread([this] { serve(); });
    }
    ~SilentServer() {
        const uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(m_stop, &one, sizeof one);
        m_thread.join();
        for (const int fd : m_clients)
            if (fd >= 0) ::close(fd);
        ::close(m_listener);
        ::close(m_stop);
    }
    int port() const { return m_port; }
    QString uri() const {
        return QStringLiteral(
                   "postgresql://kivo@127.0.0.1:%1/kivo?sslmode=disable&gssencmode=disable")
            .arg(m_port);
    }

  private:
    void serve() {
        for (;;) {
            std::vector<pollfd> fds{{m_stop, POLLIN, 0}, {m_listener, POLLIN, 0}};
            for (const int fd : m_clients) fds.push_back({fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), -1) < 0) continue;
            if (fds[0].revents) return;
            if (fds[1].revents & POLLIN) {
                const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (client >= 0) m_clients.push_back(client), m_read.emplace_back();
            }
            for (size_t i = 2; i < fds.size(); ++i)
                if (fds[i].revents & POLLIN) heard(i - 2);
        }
    }
    // Reads what a client sent; a whole startup packet is answered when the mode says so.
    void heard(size_t client) {
        char buffer[4096];
        const ssize_t n = ::read(m_clients[client], buffer, sizeof buffer);
        if (n <= 0) {
            ::close(m_clients[client]);
            m_clients[client] = -1;  // poll() passes over it
            return;
        }
        QByteArray& got = m_read[client];
        const bool before = got.size() >= 8 && got.size() >= length(got);
        got.append(buffer, n);
        if (m_mode != Mode::AfterLogin || before || got.size() < 8 || got.size() < length(got))
            return;
        if (got.mid(4, 4) != QByteArray::fromHex("00030000")) return;  // a cancel request
        QByteArray answer;
        auto message = [&](char type, const QByteArray& body) {
            answer += type;
            const quint32 size = htonl(quint32(body.size() + 4));
            answer.append(reinterpret_cast<const char*>(&size), 4);
            answer += body;
        };
        message('R', QByteArray(4, '\0'));  // authentication ok
        message('S', QByteArray("server_version\0"
                                "15.0\0",
                                20));
        message('S', QByteArray("client_encoding\0"
                                "UTF8\0",
                                21));
        message('K', QByteArray::fromHex("0000303900001234"));
        message('Z', "I");
        [[maybe_unused]] const auto w =
            ::write(m_clients[client], answer.constData(), answer.size());
    }
    static qsizetype length(const QByteArray& packet) {
        quint32 size = 0;
        memcpy(&size, packet.constData(), 4);
        return qsizetype(ntohl(size));
    }

    Mode m_mode;
    int m_listener = -1, m_stop = -1, m_port = 0;
    std::vector<int> m_clients;
    std::vector<QByteArray> m_read;
    std::thread m_thread;
};
