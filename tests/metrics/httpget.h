// SPDX-License-Identifier: MIT
#pragma once

// One HTTP/1.1 GET on 127.0.0.1, for the metrics tests and benchmark: plain POSIX, bounded in
// time, the whole answer read until the server closes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

struct HttpAnswer
{
    int status = 0; // 0: no answer
    std::string head;
    std::string body;
};

inline HttpAnswer httpGet(std::uint16_t port, const std::string &path,
                          const std::string &extraHeaders = {}, int timeoutMs = 5000)
{
    HttpAnswer answer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto remaining = [&deadline] {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    };
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return answer;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string text;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
        const std::string request = "GET " + path +
                                    " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                    "\r\n" + extraHeaders + "Connection: close\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char buffer[65536];
            for (;;) {
                pollfd readable{fd, POLLIN, 0};
                if (::poll(&readable, 1, remaining()) <= 0)
                    break;
                const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
                if (got <= 0)
                    break;
                text.append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    ::close(fd);
    const std::size_t end = text.find("\r\n\r\n");
    if (text.starts_with("HTTP/1.1 ") && end != std::string::npos) {
        answer.status = std::stoi(text.substr(9, 3));
        answer.head = text.substr(0, end);
        answer.body = text.substr(end + 4);
    }
    return answer;
}
