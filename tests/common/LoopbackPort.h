// SPDX-License-Identifier: GPL-3.0-or-later
// TCP ports on the loopback interface, for tests and benchmarks that start a
// broker of their own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

// A port nobody listens on now (the kernel's choice for an ephemeral bind).
inline int FreePort() {
    const int S = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(S, reinterpret_cast<sockaddr*>(&A), sizeof A);
    socklen_t L = sizeof A;
    getsockname(S, reinterpret_cast<sockaddr*>(&A), &L);
    close(S);
    return ntohs(A.sin_port);
}

// True when something accepts connections on Port.
inline bool Accepts(int Port) {
    const int S = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(uint16_t(Port));
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool Ok = connect(S, reinterpret_cast<sockaddr*>(&A), sizeof A) == 0;
    close(S);
    return Ok;
}
