#include "GuiHandOver.h"

#include <QMetaObject>
#include <QThread>

#include <exception>

GuiHandOver::GuiHandOver(QObject* AContext) : m_oContext(AContext) {}

GuiHandOver::~GuiHandOver() { Cancel(); }

void GuiHandOver::Run(const std::shared_ptr<CallState>& AState, const std::function<void()>& AFn) {
  {
    std::lock_guard<std::mutex> hold(AState->lock);
    if (AState->stage != Stage::Posted) return;  // cancelled before it could start
    AState->stage = Stage::Running;
  }
  Stage result = Stage::Done;
  std::string error;
  try {
    AFn();
  } catch (const std::exception& e) {
    result = Stage::Failed;
    error = e.what();
  } catch (...) {
    result = Stage::Failed;
    error = "unknown failure";
  }
  std::lock_guard<std::mutex> hold(AState->lock);
  AState->stage = result;
  AState->error = std::move(error);
  AState->changed.notify_all();
}

GuiHandOver::Outcome GuiHandOver::Call(std::function<void()> AFn, std::string* AError) {
  auto state = std::make_shared<CallState>();
  QObject* context = nullptr;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    context = m_oContext.data();
    if (m_fCancelled || !context) return Outcome::Cancelled;
    m_current = state;
  }
  bool posted = false;
  if (QThread::currentThread() == context->thread()) {
    Run(state, AFn);  // already on the context's thread: nothing to wait for
    posted = true;
  } else {
    posted = QMetaObject::invokeMethod(
        context, [state, fn = std::move(AFn)] { Run(state, fn); }, Qt::QueuedConnection);
  }
  Outcome outcome = Outcome::Cancelled;
  {
    std::unique_lock<std::mutex> hold(state->lock);
    if (!posted) state->stage = Stage::Cancelled;
    state->changed.wait(hold, [&] {
      return state->stage == Stage::Done || state->stage == Stage::Failed ||
             state->stage == Stage::Cancelled;
    });
    if (state->stage == Stage::Done) outcome = Outcome::Done;
    if (state->stage == Stage::Failed) {
      outcome = Outcome::Failed;
      if (AError) *AError = state->error;
    }
  }
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_current == state) m_current.reset();
  return outcome;
}

void GuiHandOver::Cancel() {
  std::shared_ptr<CallState> state;
  QObject* context = nullptr;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_fCancelled = true;
    state = m_current;
    context = m_oContext.data();
  }
  if (!state) return;
  std::unique_lock<std::mutex> hold(state->lock);
  if (state->stage == Stage::Posted) {
    state->stage = Stage::Cancelled;
    state->changed.notify_all();
    return;
  }
  // A call running on the context's thread is the caller itself when Cancel
  // comes from there: it cannot be waited for.
  const bool onContextThread = !context || QThread::currentThread() == context->thread();
  if (state->stage == Stage::Running && !onContextThread)
    state->changed.wait(hold, [&] { return state->stage != Stage::Running; });
}

bool GuiHandOver::Pending() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_current != nullptr;
}
