// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/StopSignals.h"

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

int g_socket[2] = { -1, -1 };
volatile std::sig_atomic_t g_requested = 0;

void onSignal(int)
{
    g_requested = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_socket[0], &byte, 1);
}

} // namespace

bool StopSignals::watch()
{
    if (g_socket[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_socket) != 0)
        return false;
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

bool StopSignals::requested()
{
    return g_requested != 0;
}

int StopSignals::descriptor()
{
    return g_socket[1];
}

} // namespace platform
