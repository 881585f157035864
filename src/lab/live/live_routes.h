#pragma once

#include <httplib.h>

#include <functional>

#include "lab/live/live_feed.h"

namespace lab {

struct LiveRoutesOptions {
    // A comment line this often keeps an idle event stream (and proxies on its way) open.
    int keepAliveMs = 15000;
    // How often a waiting stream looks whether its viewer left or the server stops.
    int checkMs = 250;
    // Event streams at once; each holds one of the server's threads while it is open, so the
    // server's thread pool must be larger than this (a viewer beyond it is told to come back).
    int maxStreams = 200;
};

// Installs the live page: GET /live (the page, with /live/live.css and /live/live.js),
// GET /live/events (server-sent events: the snapshot on connect and at every change) and
// GET /api/live (the snapshot as JSON). `signedIn` decides for each request; when false,
// /live answers 303 to /login and the others 401. The routes only read the feed's snapshot:
// they never wait for the database. An event stream ends when its viewer leaves, when the
// feed ends and when the server stops: set the server's new_task_queue (a pool larger than
// maxStreams) before calling this, which wraps it to learn of the stop.
void AddLiveRoutes(httplib::Server& http, LiveFeed& feed,
                   std::function<bool(const httplib::Request&)> signedIn,
                   LiveRoutesOptions options = {});

}  // namespace lab
