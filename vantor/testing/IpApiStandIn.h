// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/testing/MiniHttpServer.h"

#include <QByteArray>
#include <functional>

namespace vantor::testing {

// ip-api as its documentation describes it, on a MiniHttpServer: GET /json/ADDRESS and POST /batch with a JSON
// array of addresses, each answered with "success" and the address as its city ("fail" for addresses starting
// with "9.9.9."), entries of a batch in reverse order. Each kind of request has its own limit per window of 60
// seconds, starting with the window's first request; every answer carries X-Rl (requests left) and X-Ttl (seconds
// until the window ends), and a request over the limit gets a 429.
class IpApiStandIn
{
public:
    // `now` gives seconds on any steady clock; a test can move it forward when the client waits.
    IpApiStandIn(MiniHttpServer& server, int singleLimit, int batchLimit, std::function<double()> now);

    int batchRequests() const { return m_batch.requests; }
    int singleRequests() const { return m_single.requests; }
    int refused() const { return m_refused; }

private:
    struct Window
    {
        int limit;
        double start = -1;
        int used = 0;
        int requests = 0;
    };

    HttpResponse answer(const HttpRequest& request);
    // Counts the request; false when it is over the limit. Sets the two headers either way.
    bool admit(Window& window, HttpResponse& response);

    std::function<double()> m_now;
    Window m_single;
    Window m_batch;
    int m_refused = 0;
};

} // namespace vantor::testing
