// libcurl as the program uses it: one global set-up, and one way to run a transfer
// that another thread can end at once.
//
// Both the verification workers and the page download run a single easy handle on a
// multi handle of its own instead of curl_easy_perform, because only a multi handle
// can be woken from another thread: an abort must end a transfer that sits in a
// long poll, not after it.
#pragma once

#include <atomic>
#include <functional>

typedef void CURL;
typedef void CURLM;

namespace qb {

// libcurl is loaded and set up by the first call into it, from whichever thread; the
// window asks for it at its start through this object, so that it can say at once when
// libcurl could not be set up (nothing can then be verified or downloaded).
class CurlGlobal {
 public:
  CurlGlobal();
  CurlGlobal(const CurlGlobal&) = delete;
  CurlGlobal& operator=(const CurlGlobal&) = delete;
  bool Ok() const { return m_ok; }

 private:
  bool m_ok = false;
};

// Runs one easy handle at a time until it is done, aborted or stopped by its owner.
// The object holds a multi handle for its whole life, so Abort can always wake it.
class CurlTransfer {
 public:
  enum class End {
    Done,     // libcurl finished the transfer; code tells how
    Aborted,  // Abort was called (before or during the run)
    Stopped,  // the tick callback asked to stop
    Failed,   // the multi interface itself failed
  };
  struct Outcome {
    End end = End::Failed;
    int code = 0;  // the transfer's CURLcode when end is Done
  };

  CurlTransfer();
  ~CurlTransfer();
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  // False when no multi handle could be made; Run then always fails.
  bool Valid() const { return m_multi != nullptr; }

  // Is called between rounds of the transfer; returns how long the next wait may last
  // in milliseconds, or a negative number to stop the transfer (End::Stopped).
  using Tick = std::function<int()>;

  // Runs easy to its end on the calling thread. The easy handle stays the caller's;
  // its progress callback is taken over to honour Abort within a round.
  Outcome Run(CURL* easy, const Tick& tick = {});

  // Ends the run in progress at once and every later run of this object too. Safe to
  // call from any thread while the object exists.
  void Abort();
  bool Aborted() const { return m_abort.load(std::memory_order_relaxed); }

 private:
  static int Progress(void* self, long long, long long, long long, long long);

  CURLM* m_multi = nullptr;
  std::atomic<bool> m_abort{false};
};

}  // namespace qb
