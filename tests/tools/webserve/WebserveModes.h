#pragma once

#include "WebServer.h"

#include <memory>
#include <string>

// One maker per mode; each gives the server for the folder, or none when it cannot be made.

// Answers any method and path with a JSON object describing the request (and a few fixed routes
// for conditional requests, redirects, gzip and uploads).
std::shared_ptr<WebServer> makeEchoServer(const std::string& folder);
// Adds POST /upload to the echo server (multipart form, file parts streamed to temporary files).
void addEchoUploadHandler(WebServer& server);
// Serves the folder under "/" (listing, no index file, byte ranges).
std::shared_ptr<WebServer> makeStaticServer(const std::string& folder);
// The web file manager on the folder.
std::shared_ptr<WebServer> makeUploaderServer(const std::string& folder);
// The WebDAV server on the folder.
std::shared_ptr<WebServer> makeWebDAVServer(const std::string& folder);
