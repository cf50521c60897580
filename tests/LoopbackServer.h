// A TCP server on the loopback interface for network tests, and a watchdog that keeps such a
// test from hanging.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kivtest {

// Listens on an ephemeral port of 127.0.0.1. Without a response it never accepts, so a client
// connects and then waits for an answer that never comes. With one, the first connection gets
// the response and then silence without being closed; later ones are accepted and get nothing.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::string AResponse = "") : FResponse(std::move(AResponse)) {
    FSocket = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(FSocket, 4);
    socklen_t length = sizeof address;
    getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length);
    FPort = ntohs(address.sin_port);
    if (pipe(FStop) != 0) FStop[0] = FStop[1] = -1;
    if (!FResponse.empty()) FThread = std::thread([this] { Serve(); });
  }
  ~LoopbackServer() {
    Hangup();
    if (FThread.joinable()) FThread.join();
    for (int fd : {FSocket, FStop[0], FStop[1]})
      if (fd >= 0) close(fd);
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int Port() const { return FPort; }
  std::string Url(const std::string& APath) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + APath;
  }
  // Closes every connection (from any thread): a client blocked on one sees it end.
  void Hangup() {
    std::lock_guard<std::mutex> guard(FLock);
    if (FHungUp) return;
    FHungUp = true;
    if (FThread.joinable()) {
      [[maybe_unused]] ssize_t written = write(FStop[1], "x", 1);
    } else {
      close(FSocket);  // connections still waiting to be accepted are reset
      FSocket = -1;
    }
  }

  // An HTTP response header for a body of ASize bytes.
  static std::string HttpHeader(size_t ASize, const std::string& AType) {
    return "HTTP/1.1 200 OK\r\nContent-Type: " + AType +
           "\r\nContent-Length: " + std::to_string(ASize) + "\r\n\r\n";
  }

 private:
  void Serve() {
    std::vector<int> connections;
    for (;;) {
      pollfd fds[2] = {{FSocket, POLLIN, 0}, {FStop[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents) break;
      int connection = accept(FSocket, nullptr, nullptr);
      if (connection < 0) continue;
      if (connections.empty()) {
        size_t sent = 0;
        while (sent < FResponse.size()) {
          ssize_t n =
              send(connection, FResponse.data() + sent, FResponse.size() - sent, MSG_NOSIGNAL);
          if (n <= 0) break;
          sent += size_t(n);
        }
      }
      connections.push_back(connection);
    }
    for (int connection : connections) close(connection);
  }

  std::string FResponse;
  int FSocket = -1;
  int FPort = 0;
  int FStop[2] = {-1, -1};
  std::mutex FLock;
  bool FHungUp = false;
  std::thread FThread;
};

// Runs AOnExpiry on a thread of its own when it is not destroyed within ASeconds.
class Watchdog {
 public:
  Watchdog(int ASeconds, std::function<void()> AOnExpiry)
      : FThread([this, ASeconds, AOnExpiry = std::move(AOnExpiry)] {
          std::unique_lock<std::mutex> lock(FLock);
          if (FDone.wait_for(lock, std::chrono::seconds(ASeconds), [this] { return FStopped; }))
            return;
          FFired = true;
          lock.unlock();
          AOnExpiry();
        }) {}
  ~Watchdog() { Stop(); }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Ends the watch; true when it had run out before.
  bool Stop() {
    {
      std::lock_guard<std::mutex> guard(FLock);
      FStopped = true;
    }
    FDone.notify_all();
    if (FThread.joinable()) FThread.join();
    return FFired;
  }

 private:
  std::mutex FLock;
  std::condition_variable FDone;
  bool FStopped = false;
  bool FFired = false;
  std::thread FThread;
};

}  // namespace kivtest
