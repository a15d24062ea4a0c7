// The loopback farm of fake HTTP proxies shared by the farm benches: one epoll process
// serves a share of the proxies, each on an address of 127.0.0.0/8 and all on one port,
// and the bench starts such processes as children of its own executable.
#pragma once

#include <QProcess>
#include <QStringList>

#include <functional>
#include <string>

namespace qb::bench {

// The text every farm page carries, and the resource the proxies under test are asked
// for. Never fetched directly: the proxy under test answers for it.
inline constexpr const char* kFarmFeature = "FarmFeature-7f3a";
inline constexpr const char* kFarmResourceUrl = "http://127.0.0.1/farm.html";

// What the farm does with the address of one proxy.
enum class FarmKind {
  Answers,  // reads the request head and answers with the page after the delay
  Refuses,  // no listener: the address is only checked for being free
  Silent,   // accepts and never answers
};

struct FarmShare {
  // The proxies [from, to), by index.
  int from = 0;
  int to = 0;
  std::function<std::string(int)> address;
  std::function<FarmKind(int)> kind;
  int delayMs = 200;
  // The port of every address; 0: one that is free on the first. Farms in separate
  // network namespaces serve one list only on a port named alike.
  int port = 0;
  // Another process may take the port picked on the first address before the rest
  // are bound: the whole share is tried again on a fresh port as often as this.
  int bindAttempts = 20;
  int backlog = 512;
  // How many epoll events one wait takes at most.
  int eventBatch = 1024;
};

// Serves the share: prints "READY <port>" once every listener is up, and serves until
// standard input closes (returns 0); 1 when the listeners could not be bound.
int ServeFarm(const FarmShare& share);

// Starts this executable with args as a farm process; WaitForFarm then gives the port
// from its "READY <port>" line, or 0 when none came within readyTimeoutMs of output.
void StartFarm(QProcess& process, const QStringList& args);
int WaitForFarm(QProcess& process, int readyTimeoutMs);
// Ends a farm process: its standard input closes, and it is killed when it has not
// ended within waitMs.
void StopFarm(QProcess& process, int waitMs);

}  // namespace qb::bench
