// A stand-in dashboard for tests: an HTTP/1.0 server on a loopback address
// (or one the test names) that records each request's bytes exactly and
// answers every connection with the next scripted reply.
//
//   ScriptedServer server;                        // 127.0.0.1, ephemeral port
//   server.script(ServerReply::text("HTTP/1.0 200 OK\r\n\r\n#@#Succeed\n"));
//   ... the code under test connects to server.port() ...
//   EXPECT_EQ("POST /x HTTP/1.0\r\n...", server.request(0));
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Millis = std::chrono::milliseconds;

// How the server answers one connection, once the request has come in
// (the head up to its empty line, and a body as long as its Content-length).
struct ServerReply {
  std::vector<std::string> pieces;  // sent in order, each its own TCP segment
  Millis delay{0};                  // before the first piece
  Millis pause{0};                  // between pieces
  bool hold = false;                // keep the connection open afterwards until the server stops
  bool close_at_once = false;       // close as soon as accepted, reading nothing
  bool reset = false;               // end with a TCP reset instead of an orderly close

  // The whole reply in one piece, then close.
  static ServerReply text(const std::string& reply);
  // The reply in several segments, `pause` apart, then close.
  static ServerReply segments(const std::vector<std::string>& pieces, Millis pause);
  // The whole reply after `delay`, then close.
  static ServerReply after(Millis delay, const std::string& reply);
  // Reads the request and never answers nor closes.
  static ServerReply never();
  // Closes the connection at once.
  static ServerReply closed();
  // Sends `partial`, then resets the connection.
  static ServerReply reset_after(const std::string& partial);
};

class ScriptedServer {
 public:
  // Listens on address:port; port 0 takes an ephemeral one.
  explicit ScriptedServer(const std::string& address = "127.0.0.1", unsigned short port = 0);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  // Empty when listening; else why not.
  const std::string& error() const { return error_; }
  unsigned short port() const { return port_; }

  // Queues the reply of the next connection not yet scripted. Connections
  // beyond the script get the last reply again (none scripted: an empty
  // reply, then close).
  void script(const ServerReply& reply);

  // The bytes of the i-th request (in accepting order), waiting up to `wait`
  // for it to be complete; "" when it did not come.
  std::string request(size_t i = 0, Millis wait = Millis(5000)) const;
  // Connections accepted so far.
  size_t connections() const;

 private:
  struct Connection;
  void accept_loop();
  void serve(Connection* c);
  bool sleep_unless_stopped(Millis d);

  std::string error_;
  int listen_fd_ = -1;
  unsigned short port_ = 0;
  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  bool stop_ = false;
  std::vector<ServerReply> script_;
  std::vector<std::unique_ptr<Connection>> conns_;
  std::thread acceptor_;
};

// A loopback port on which nothing listens: a connection is refused at once.
unsigned short closed_port();
