// The port row of the main window: the reader's device type, the list of
// present ports kept fresh by the library's device notifications, and the
// switch that opens and closes the reader port.
#include <QCheckBox>
#include <QComboBox>
#include <QMetaObject>
#include <QRadioButton>

#include <mutex>

#include "AppConfig.h"
#include "AppDialogs.h"
#include "MainForm.h"
#include "MainInternal.h"
#include "ReaderPort.h"
#include "ylvane.h"

namespace {

// The reader's USB product ids, ascending: 0x0000 lets plain serial ports be
// listed too, 0xFFFF the first two legacy ports.
const uint16_t kReaderPids[] = {0x0000, 0x1234, 0x1235, 0x1237, 0xFFFF};

// A reader that came back is tried again this often and this long while its
// node refuses us: udev needs milliseconds to set it up, more on a busy
// machine.
constexpr int kReopenRetryMs = 100;
constexpr int kReopenWaitMs = 3000;

// The window the notifier's thread reaches, guarded so that it is never
// used after the window has let go of it.
std::mutex g_notifyLock;
TfmMain* g_notifyForm = nullptr;

YV_BOOL YV_CALL PortNotifyCallback(uint32_t Kind, const void* /*Payload*/, void* /*UserData*/) {
  std::lock_guard<std::mutex> hold(g_notifyLock);
  // Posted, never sent: the library's thread does not wait for the GUI.
  if (TfmMain* form = g_notifyForm) {
    const bool arrival = Kind == YV_NMSG_ARRIVAL;
    QMetaObject::invokeMethod(form, [form, arrival] { form->WMUpdatePorts(arrival); }, Qt::QueuedConnection);
  }
  return 1;
}

YV_BOOL YV_CALL EnumPortsCallback(const YV_PORT_INFO* Info, void* UserData) {
  auto* list = static_cast<QComboBox*>(UserData);
  if (!Info || !list) return 1;
  // Texts from the library end within their fields.
  auto text = [](const char16_t* s, size_t n) {
    size_t len = 0;
    while (len < n && s[len]) ++len;
    return QString::fromUtf16(s, qsizetype(len));
  };
  QString name;
  if (Info->PortType == YV_PORT_COM)
    name = text(Info->Name, std::size(Info->Name));
  else
    name = text(Info->PortName, std::size(Info->PortName));
  if (!name.isEmpty()) list->addItem(name);
  return 1;
}

}  // namespace

void AttachPortNotify(TfmMain* AForm) {
  std::lock_guard<std::mutex> hold(g_notifyLock);
  g_notifyForm = AForm;
}

void DetachPortNotify() {
  // Queued calls already posted to the window are dropped with it by Qt.
  std::lock_guard<std::mutex> hold(g_notifyLock);
  g_notifyForm = nullptr;
}

void TfmMain::RegisterReader() {
  YV_SERIAL_DEVICE_TYPE type{};
  type.TypeIndex = 0;
  type.Pids = kReaderPids;
  type.PidCount = int32_t(std::size(kReaderPids));
  YV_RegSerialDevice(&type);

  AttachPortNotify(this);
  YV_NOTIFY_SETTINGS settings{};
  settings.Flags = YV_NF_EXIST;
  settings.Callback = PortNotifyCallback;
  settings.SerialTypeMask = 1;
  YV_HANDLE notifier = nullptr;
  // Released by the last YV_Finalyze, never by the window.
  YV_FindNotification(&notifier, &settings);
}

void TfmMain::WMUpdatePorts(bool AArrival) {
  UpdatePortList();
  if (AArrival) ReopenLostPort();
  UpdateControls();
}

void TfmMain::ReopenLostPort() {
  // Only an arrival can bring the reader back; whatever device gets its
  // name is looked at then, and never tried again by name alone.
  if (!m_port->Lost()) return;
  if (cbPorts->findText(m_port->OpenedPort(), Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) return;
  if (!YV_FAILED(m_port->ReopenLost())) {
    m_reopenTimer.stop();
    return;
  }
  // Each arrival of the reader gives its node the full time again.
  m_reopenDeadline.setRemainingTime(kReopenWaitMs);
  m_reopenTimer.start(kReopenRetryMs);
}

void TfmMain::RetryReopenLostPort() {
  // Switched off, or opened by the user, meanwhile: nothing to try.
  if (!m_port->Lost()) {
    m_reopenTimer.stop();
    return;
  }
  // Nothing tried (another device has the name now, or none) ends the
  // tries as an open does.
  const HRESULT hr = m_port->ReopenLost();
  const bool failed = YV_FAILED(hr);
  if (failed && !m_reopenDeadline.hasExpired()) return;
  m_reopenTimer.stop();
  UpdateControls();
  // The port stays switched on: the next arrival of the reader tries again.
  if (failed) m_dialogs.ShowError(this, OpenError(hr, m_port->OpenedPort()));
}

void TfmMain::UpdatePortList() {
  CtrlUpdate hold(*this);
  const QString text = cbPorts->currentText();
  cbPorts->clear();
  YV_EnumSerialPorts(1, EnumPortsCallback, cbPorts);
  // What the user typed or picked stays, listed or not (the combo box picks
  // its first item by itself when items arrive in an empty list).
  cbPorts->setCurrentIndex(cbPorts->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
  if (cbPorts->currentIndex() < 0) cbPorts->setEditText(text);
}

void TfmMain::cbPortsChange() {
  if (m_nCtrlUpdate > 0) return;
  m_config->SetPort(cbPorts->currentText());
}

void TfmMain::DoEnableCvt(bool AEnable) {
  if (AEnable == m_port->Opened()) return;
  if (AEnable) {
    const QString name = cbPorts->currentText();
    if (!name.isEmpty()) {
      m_port->SetPort(name);
      if (const HRESULT hr = m_port->Open(); hr != S_OK) m_dialogs.ShowError(this, OpenError(hr, name));
    }
  } else {
    m_port->Close();
  }
  m_config->BeginUpdate(false);
  m_config->SetPort(m_port->Port());
  m_config->SetPortEnable(AEnable);
  m_config->EndUpdate();
  UpdateControls();
}

void TfmMain::chkEnabledClick() {
  if (m_nCtrlUpdate > 0) return;
  DoEnableCvt(chkEnabled->isChecked());
}

void TfmMain::miEnable2Click() { DoEnableCvt(!chkEnabled->isChecked()); }

void TfmMain::rgTranMethodClick() {
  if (m_nCtrlUpdate > 0) return;
  for (int i = 0; i < int(m_tranItems.size()); ++i) {
    if (m_tranItems[i]->isChecked()) {
      m_pipeline.SetTransMethod(i);
      m_config->SetTransMethod(i);
    }
  }
}
