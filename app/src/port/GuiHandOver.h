// A synchronous call from a worker thread into the thread of a Qt object
// (the GUI thread), which the owner can cancel.
//
// Qt's blocking queued connection cannot be abandoned: a worker blocked in
// it while the GUI thread waits for that worker to end (a port being
// stopped) deadlocks both. Here the worker posts the call and waits for
// "done" or "cancelled"; Cancel ends the wait at once, and a call that has
// not started by then never runs. A failure inside the call comes back to
// the worker as a value; no exception crosses the event loop.
#pragma once

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class GuiHandOver {
 public:
  enum class Outcome { Done, Failed, Cancelled };

  // Calls run on the thread of AContext; it must outlive this object or be
  // destroyed on its own thread (posted calls are then dropped).
  explicit GuiHandOver(QObject* AContext);
  ~GuiHandOver();
  GuiHandOver(const GuiHandOver&) = delete;
  GuiHandOver& operator=(const GuiHandOver&) = delete;

  // Runs AFn on the context's thread and waits until it has returned or the
  // hand-over is cancelled. AError receives the text of a failure.
  Outcome Call(std::function<void()> AFn, std::string* AError = nullptr);
  // From now on no call runs: a waiting Call returns Cancelled at once, a
  // posted call that has not started is dropped, later Calls return
  // Cancelled. When a call is running on the context's thread and Cancel
  // comes from another thread, Cancel waits for it to end, so nothing runs
  // after Cancel has returned.
  void Cancel();
  // A call has been posted and has not ended yet.
  bool Pending() const;

 private:
  enum class Stage { Posted, Running, Done, Failed, Cancelled };
  struct CallState {
    std::mutex lock;
    std::condition_variable changed;
    Stage stage = Stage::Posted;
    std::string error;
  };
  static void Run(const std::shared_ptr<CallState>& AState, const std::function<void()>& AFn);

  QPointer<QObject> m_oContext;
  mutable std::mutex m_lock;
  bool m_fCancelled = false;
  std::shared_ptr<CallState> m_current;
};
