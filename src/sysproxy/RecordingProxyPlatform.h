// A stand-in for the desktop's proxy settings that records every call, for tests of
// the system-proxy logic and of the windows that use it. It keeps the settings in
// memory, or passes each call on to a real back end and records it on the way.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sysproxy/SystemProxyPlatform.h"

namespace qb {

class CRecordingProxyPlatform : public ISystemProxyPlatform {
 public:
  enum class CallKind { Query, Write, Announce, Enum };
  struct Call {
    CallKind kind;
    std::string connection;            // Write only
    ConnectionProxySettings settings;  // Write: what was written; Query: what was answered
    bool ok = true;
  };

  explicit CRecordingProxyPlatform(std::unique_ptr<ISystemProxyPlatform> inner = nullptr)
      : m_inner(std::move(inner)) {}

  bool QueryLanSettings(ConnectionProxySettings& out) override {
    Call c{CallKind::Query, {}, {}, !failQuery};
    if (c.ok) {
      if (m_inner) {
        c.ok = m_inner->QueryLanSettings(out);
      } else {
        out = stored[""];
      }
      if (c.ok) c.settings = out;
    }
    calls.push_back(std::move(c));
    return calls.back().ok;
  }

  bool CarriesHttpLogOn() const override { return m_inner ? m_inner->CarriesHttpLogOn() : carriesLogOn; }

  bool WriteConnection(const std::string& connection, const ConnectionProxySettings& settings) override {
    bool ok = !failWrites.count(connection);
    if (ok) {
      if (m_inner) {
        ok = m_inner->WriteConnection(connection, settings);
      } else if (!dropWrites) {
        stored[connection] = settings;
      }
    }
    calls.push_back({CallKind::Write, connection, settings, ok});
    return ok;
  }

  void WatchChanges(std::function<void()> changed) override {
    if (m_inner) m_inner->WatchChanges(std::move(changed));
  }

  void AnnounceChange() override {
    if (m_inner) m_inner->AnnounceChange();
    calls.push_back({CallKind::Announce, {}, {}, true});
  }

  bool EnumConnections(std::vector<std::string>& names) override {
    bool ok = !failEnum;
    if (ok) {
      names.insert(names.end(), connections.begin(), connections.end());
      if (m_inner) ok = m_inner->EnumConnections(names);
    }
    calls.push_back({CallKind::Enum, {}, {}, ok});
    return ok;
  }

  // The calls of one kind, in order.
  std::vector<Call> CallsOf(CallKind kind) const {
    std::vector<Call> out;
    for (const auto& c : calls) {
      if (c.kind == kind) out.push_back(c);
    }
    return out;
  }
  // The connection names of the write calls, in order.
  std::vector<std::string> WrittenConnections() const {
    std::vector<std::string> out;
    for (const auto& c : calls) {
      if (c.kind == CallKind::Write) out.push_back(c.connection);
    }
    return out;
  }

  // Behaviour.
  bool failQuery = false;
  bool failEnum = false;
  std::set<std::string> failWrites;  // connection names whose write fails
  // Without an inner back end: every write is accepted and none is kept, as a store
  // whose service cannot be reached does.
  bool dropWrites = false;
  // Without an inner back end: whether this desktop keeps an HTTP proxy's log-on.
  bool carriesLogOn = true;
  std::vector<std::string> connections;  // dial-up entries the enumeration finds

  // Without an inner back end: the settings of each connection ("" is the LAN).
  std::map<std::string, ConnectionProxySettings> stored;
  std::vector<Call> calls;

 private:
  std::unique_ptr<ISystemProxyPlatform> m_inner;
};

}  // namespace qb
