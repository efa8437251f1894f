// trem_show: opens one dialog of the library against a real agent, and drives it. The dialog
// shows on the display as the consoles' windows do (DISPLAY or WAYLAND_DISPLAY); without one,
// or when it cannot be reached, it runs headless (offscreen). QT_QPA_PLATFORM, when set, chooses.
//
//   trem_show CLASS --host HOST [--port N] [--bind IP] [--answer OK|Cancel|Yes|No]...
//             [--timeout S] [step...]
//   trem_show CLASS --local [--host NAME] [...]
//   trem_show --list
//
// The dialog is built as a console builds it, and its requests travel as in the console: the
// console's communication worker (CCommunication) sends them to HOST over UDP (port 7010
// unless --port; from the local address --bind), or with --local over the shared-memory
// channel to the agent on this computer. The worker's notices reach the console's reply
// handler (CScpHandler), which hands the results to the open dialog. Before the dialog opens,
// the status (1, 0, 0, registering for the agent's status pushes) and the UPS information
// (2, 0, 0) are asked for as the console's view asks for them; the dialog opens once the UPS
// information is in. When the dialog is idle (no reply awaited, no request left; for a dialog
// that keeps asking for readings of its own, each of its first requests answered and no other
// request left) it prints "filled after N ms", then the steps run in the order given:
//   --set ctlID=TEXT   fills a control (edit, combo box, spin box, check box, list)
//   --press ctlID      clicks a button, then waits until the dialog is idle again
//   --png FILE         saves a picture of the dialog
//   --pdf FILE         from now on the print dialog answers OK and prints into FILE
//   --wait S           lets the dialog run S seconds
// Message boxes are answered with the --answer values in order, then OK (or the box's first
// button). Boxes, help requests and every notice of the worker are printed to standard output.
// SIGTERM and SIGINT end the run early ("stopped by signal N"): the steps left are skipped, the
// dialog closes and the worker unregisters from the agent as at the normal end.
// Exit status 0 when every step worked, 1 otherwise (also after a stop), 2 for a bad command line.
#include <arpa/inet.h>
#include <signal.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSpinBox>
#include <QTextEdit>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "console/comm/comm_notice.h"
#include "console/comm/communication.h"
#include "console/comm/scp_handler.h"
#include "core/adapters/mib_file.h"
#include "core/network/udp.h"
#include "core/scp/scp_base.h"
#include "dialogs/frame/console_stop_signals.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/event_pump.h"
#include "dialogs/frame/file_dialog.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/kt_dialog.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/print.h"
#include "dialogs/frame/quiet_qt_messages.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/frame/window_picture.h"
#include "platform/named_object.h"

namespace {

struct Step {
  std::string kind;  // set, press, png, pdf, wait
  std::string value;
};

struct Options {
  std::string className;
  std::string host;
  int port = 7010;
  std::string bind;
  std::vector<int> answers;
  int timeoutSeconds = 35;
  std::vector<Step> steps;
  bool list = false;
  bool local = false;  // the shared-memory channel (mode 3) in place of UDP (mode 0)
};

void Usage() {
  std::fprintf(stderr,
               "usage: trem_show CLASS --host HOST [--port N] [--bind IP] [--answer OK|Cancel|Yes|No]...\n"
               "                 [--timeout S] [--set ctlID=TEXT] [--press ctlID] [--png FILE] [--pdf FILE]\n"
               "                 [--wait S]\n"
               "       trem_show CLASS --local [--host NAME] [--answer ...] [--timeout S] [step...]\n"
               "       trem_show --list\n");
}

bool ParseInt(const std::string& text, int& out) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < 0 || v > 1000000) return false;
  out = static_cast<int>(v);
  return true;
}

bool Parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--list") {
      o.list = true;
    } else if (a == "--local") {
      o.local = true;
    } else if (a == "--host") {
      if (!value(o.host)) return false;
    } else if (a == "--port") {
      if (!value(v) || !ParseInt(v, o.port) || o.port == 0 || o.port > 65535) return false;
    } else if (a == "--bind") {
      if (!value(o.bind)) return false;
    } else if (a == "--timeout") {
      if (!value(v) || !ParseInt(v, o.timeoutSeconds)) return false;
    } else if (a == "--answer") {
      if (!value(v)) return false;
      const int answer = MessageBoxAnswerFromName(QString::fromStdString(v));
      if (answer == 0) return false;
      o.answers.push_back(answer);
    } else if (a == "--set" || a == "--press" || a == "--png" || a == "--pdf" || a == "--wait") {
      int seconds = 0;
      if (!value(v) || (a == "--wait" && !ParseInt(v, seconds))) return false;
      o.steps.push_back({a.substr(2), v});
    } else if (!a.empty() && a[0] != '-' && o.className.empty()) {
      o.className = a;
    } else {
      return false;
    }
  }
  // The local agent needs no address: its name only labels the dialog.
  if (o.local && o.host.empty()) o.host = "localhost";
  // --port and --bind are for UDP.
  if (o.local && (o.port != 7010 || !o.bind.empty())) return false;
  return o.list || (!o.className.empty() && !o.host.empty());
}

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// Control id of "ctl1234", "1234".
int ControlId(const std::string& text) {
  std::string digits = text.rfind("ctl", 0) == 0 ? text.substr(3) : text;
  int id = 0;
  return ParseInt(digits, id) ? id : -1;
}

// A control by id: every dialog of the library names its controls "ctl<id>".
QWidget* FindControl(QDialog* dialog, int id) {
  return dialog->findChild<QWidget*>(ControlName(id));
}

bool SetControl(QDialog* dialog, int id, const QString& text) {
  QWidget* w = FindControl(dialog, id);
  if (w == nullptr) return false;
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(text);
  } else if (auto* c = qobject_cast<QComboBox*>(w)) {
    const int index = c->findText(text);
    if (index >= 0) {
      c->setCurrentIndex(index);
    } else if (c->isEditable()) {
      c->setEditText(text);
    } else {
      return false;
    }
  } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok) return false;
    s->setValue(v);
  } else if (auto* b = qobject_cast<QAbstractButton*>(w); b != nullptr && b->isCheckable()) {
    b->setChecked(text == "1" || text.compare("on", Qt::CaseInsensitive) == 0 ||
                  text.compare("true", Qt::CaseInsensitive) == 0);
  } else if (auto* t = qobject_cast<QTextEdit*>(w)) {
    t->setPlainText(text);
  } else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
    p->setPlainText(text);
  } else if (auto* l = qobject_cast<QListWidget*>(w)) {
    const auto items = l->findItems(text, Qt::MatchExactly);
    if (items.isEmpty()) return false;
    l->setCurrentItem(items.front());
  } else {
    return false;
  }
  return true;
}

// Prints the help requests instead of opening a window.
class PrintedHelp : public HelpLayer {
 public:
  void ShowTopic(QWidget*, const QString& file, unsigned, int context) override {
    const HelpTopic topic = FindHelpTopic(file, context);
    Say("help: " + file.toStdString() + " topic " + std::to_string(context) + " \"" +
        topic.title.toStdString() + "\"");
  }
};

// "2,0,0" for a packed key (its length's bytes).
std::string KeyText(uint32_t packedKey) {
  const unsigned length = std::min(PackedKeyLength(packedKey), 3u);
  const unsigned bytes[3] = {PackedKeyBlock(packedKey), PackedKeyBranch(packedKey), PackedKeyItem(packedKey)};
  std::string text;
  for (unsigned i = 0; i < length; ++i) text += (i > 0 ? "," : "") + std::to_string(bytes[i]);
  return text.empty() ? std::string("(no key)") : text;
}

// The console's view in small: every notice of the worker is printed, and each applied reply
// goes to the reply handler, which asks again after "Get Resend", shows failures as boxes and
// forwards results to the open dialog.
class NoticePrinter : public QObject {
 public:
  explicit NoticePrinter(CScpHandler& handler) : handler_(handler) {}

  bool event(QEvent* e) override {
    if (e->type() != kCommNoticeEventType) return QObject::event(e);
    const CommNotice& n = static_cast<CommNoticeEvent*>(e)->notice();
    const std::string from = " (host " + std::to_string(n.hostIndex) + ")";
    if (n.message == kNoticeReplyApplied) {
      const int routed = handler_.ProcessNotice(n);
      Say("reply " + KeyText(n.key) + ": " + ScpReplyCodeText(n.status) + from + " -> " +
          std::to_string(routed) + " dialog(s)");
      // A final answer for the UPS information (anything but "Get Resend", which is asked again).
      if (PackedKeyBlock(n.key) == BLOCK_UPS_INFO && n.status != SCP_GET_RESEND) ups_info_answered_ = true;
    } else {
      Say("host " + std::to_string(n.wParam) + " changed: " + KeyText(n.key) + " " +
          ScpReplyCodeText(n.status));
    }
    return true;
  }
  bool UpsInfoAnswered() const { return ups_info_answered_; }

 private:
  CScpHandler& handler_;
  bool ups_info_answered_ = false;
};

// True when the environment variable is set to something (Qt takes an empty one as unset).
bool HasEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Lets the events run for `ms`, less when a stop comes.
void PumpFor(int ms) {
  PumpEventsUntil([] { return StopRequested(); }, ms);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!Parse(argc, argv, o)) {
    Usage();
    return 2;
  }
  // On the display where there is one; headless where there is none, or where the one named
  // cannot be reached (ssh without X forwarding, sudo keeping DISPLAY): Qt tries the platforms
  // of the list in turn.
  if (!HasEnv("QT_QPA_PLATFORM")) {
    const char* platforms = HasEnv("WAYLAND_DISPLAY") ? "wayland;xcb;offscreen"
                            : HasEnv("DISPLAY")       ? "xcb;offscreen"
                                                      : "offscreen";
    ::setenv("QT_QPA_PLATFORM", platforms, 1);
  }
  InstallQuietQtMessages();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tremona"));
  // The waits below end at a stop; what is open then is answered as its Cancel.
  ConsoleStopSignals stopSignals;
  stopSignals.Install({SIGTERM, SIGINT}, nullptr);
  _InitTremDLL();
  if (o.list) {
    for (const QString& name : RegisteredDialogs()) Say(name.toStdString());
    return 0;
  }
  gcsMessageBoxTitle = QStringLiteral("Tremona");
  gnCommMode = o.local ? 3 : 0;
  // SNMP as a console has it: usable when the MIB file of the current directory reads.
  if (ReadMibFile(kMibFileName)) gScp.SetFlag(SCP_FLAG_SNMP);
  // The console's UDP channel is bound to this address when it opens.
  if (!o.bind.empty() && KT_UDP::SetDefaultBindAddress(o.bind.c_str()) != 1) {
    std::fprintf(stderr, "trem_show: bad bind address %s\n", o.bind.c_str());
    return 1;
  }

  // As a console: the queue's mutex, the host, the worker.
  ScpQueueMutex queueMutex;
  if (!queueMutex.Create(kScpQueueMutexName)) {
    std::fprintf(stderr, "trem_show: cannot create the mutex \"%s\"\n", kScpQueueMutexName);
    return 1;
  }
  {
    KT_Address address(ADDRESS_IP);
    if (!o.local) {
      if (address.Resolve(o.host.c_str()) < 0) {
        std::fprintf(stderr, "trem_show: unknown host %s\n", o.host.c_str());
        return 1;
      }
      address.SetPort(htons(static_cast<uint16_t>(o.port)));
    }
    // The local agent is a host without an address.
    address.SetHostName(o.host.c_str());
    KT_HostControl writer;
    gHosts.ResetHosts();
    gHosts.AddHost(address);
  }

  ScriptedMessageBoxes boxes;
  for (int answer : o.answers) boxes.QueueAnswer(answer);
  boxes.SetDefaultAnswer(IDOK);
  boxes.SetObserver([](const ScriptedMessageBoxes::Box& box) {
    Say("box: [" + box.caption.toStdString() + "] " + box.text.toStdString() + " -> " +
        MessageBoxAnswerName(box.answer).toStdString());
  });
  SetMessageBoxLayer(&boxes);
  PrintedHelp help;
  SetHelpLayer(&help);
  ScriptedFileDialogs files;  // no file is chosen
  SetFileDialogLayer(&files);
  PdfPrintDialog print(QString(), false);  // printing needs --pdf
  SetPrintDialogLayer(&print);

  // The relay and its target outlive the worker, which is stopped (and unregisters from the
  // agent) before they go.
  CScpHandler handler;
  NoticePrinter printer(handler);
  CommNoticeRelay relay;
  relay.SetTarget(&printer);
  CCommunication worker(&relay);
  worker.start();
  if (!worker.WaitInitialised(10000)) {
    std::fprintf(stderr, "trem_show: the communication worker did not start\n");
    worker.Stop(10000);
    return 1;
  }
  if (worker.Running() == 0) {
    if (!o.local) {
      std::fprintf(stderr, "trem_show: cannot open a UDP channel\n");
      worker.Stop(10000);
      return 1;
    }
    // No agent has set up the channel: the dialogs open all the same, on what the image holds.
    Say("no agent on this computer: the shared-memory channel did not open");
  } else {
    // (A local channel that cannot be made yet is tried again at the worker's steps.)
    Say("worker running");
  }

  // As the console's view does before it offers its dialogs: the status, registering for the
  // agent's status pushes, and the UPS information, from which the dialogs learn the agent's
  // functions, model and software.
  int hostIndex = -1;
  {
    KT_HostControl reader(0);
    if (HostEntry* first = gHosts.GetFirstHost()) hostIndex = first->GetHostIndex();
  }
  const bool asked = RequestForHost(hostIndex, BLOCK_STATUS, 0, 0, 1) == 1 &&
                     RequestForHost(hostIndex, BLOCK_UPS_INFO, 0, 0) == 1;
  const int infoBound = std::min(o.timeoutSeconds, 15) * 1000;
  if (!asked || worker.Running() == 0 ||
      !PumpEventsUntil([&] { return printer.UpsInfoAnswered() || StopRequested(); }, infoBound) ||
      !printer.UpsInfoAnswered()) {
    Say("no UPS information from " + o.host);
    // Without an agent the dialogs open all the same, on what the image holds.
    ScpQueueLock lock;
    if (lock.locked()) gScp.requestTable.RemoveHost(hostIndex);
  }

  if (StopRequested()) {
    Say("stopped by signal " + std::to_string(StopSignalNumber()));
    worker.Stop(10000);
    return 1;
  }
  QPointer<QDialog> dialog =
      OpenRegisteredDialog(QString::fromStdString(o.className), nullptr, QString::fromStdString(o.host));
  if (dialog.isNull()) {
    std::fprintf(stderr, "trem_show: no dialog %s (see --list)\n", o.className.c_str());
    worker.Stop(10000);
    return 1;
  }
  Say("opened " + o.className + ": \"" + dialog->windowTitle().toStdString() + "\"");
  QElapsedTimer sinceOpened;
  sinceOpened.start();

  const int bound = o.timeoutSeconds * 1000;
  // Idle: nothing left in the request table, the dialog waits for no reply and talks to no
  // device. It must hold on three turns running: the worker removes an answered request before
  // its notice is handled, and the handler may ask again ("Get Resend"). A dialog that keeps
  // asking for readings of its own always has one of them waiting: it is idle once each of its
  // first requests has had its answer and nothing but those readings waits.
  int quiet = 0;
  auto idle = [&] {
    bool now;
    {
      ScpQueueLock lock;
      // A dialog that asks the agent nothing (not a KTDialog) is idle at once; --wait lets a
      // search of its own run.
      auto* asking = qobject_cast<KTDialog*>(dialog.data());
      const bool follows = asking != nullptr && asking->Follows();
      const int waiting =
          follows ? QueuedRequestsBesides(hostIndex, asking->FollowedKeys()) : gScp.requestTable.GetCount();
      // A dialog talking to a device itself says so with its "working" property.
      now = waiting == 0 && (asking == nullptr || !asking->IsBusy()) && (!follows || asking->IsFilled()) &&
            (dialog.isNull() || !dialog->property("working").toBool());
    }
    quiet = now ? quiet + 1 : 0;
    return quiet >= 3;
  };
  auto waitIdle = [&] {
    quiet = 0;
    return PumpEventsUntil([&] { return StopRequested() || idle(); }, bound) && !StopRequested();
  };
  bool ok = waitIdle();
  if (ok) {
    Say("filled after " + std::to_string(sinceOpened.elapsed()) + " ms");
  } else if (!StopRequested()) {
    Say("not idle after " + std::to_string(o.timeoutSeconds) + " s");
  }

  for (const Step& step : o.steps) {
    if (StopRequested()) break;
    if (step.kind == "pdf") {
      print.SetPath(QString::fromStdString(step.value));
      print.SetAccept(true);
      continue;
    }
    if (step.kind == "wait") {
      int seconds = 0;
      ParseInt(step.value, seconds);  // checked with the command line
      PumpFor(seconds * 1000);
      continue;
    }
    if (dialog.isNull()) {
      Say("dialog closed; --" + step.kind + " " + step.value + " skipped");
      ok = false;
      continue;
    }
    if (step.kind == "png") {
      const bool saved = SaveWindowPng(dialog, QString::fromStdString(step.value));
      Say((saved ? "saved " : "could not save ") + step.value);
      ok = ok && saved;
    } else if (step.kind == "set") {
      const size_t eq = step.value.find('=');
      const int id = eq == std::string::npos ? -1 : ControlId(step.value.substr(0, eq));
      if (id < 0 || !SetControl(dialog, id, QString::fromStdString(step.value.substr(eq + 1)))) {
        Say("cannot set " + step.value);
        ok = false;
      }
    } else if (step.kind == "press") {
      const int id = ControlId(step.value);
      auto* button = id < 0 ? nullptr : qobject_cast<QAbstractButton*>(FindControl(dialog, id));
      if (button == nullptr || !button->isEnabled()) {
        Say("cannot press " + step.value);
        ok = false;
        continue;
      }
      Say("press " + step.value);
      button->click();
      if (!waitIdle()) {
        if (!StopRequested()) Say("not idle after " + std::to_string(o.timeoutSeconds) + " s");
        ok = false;
      }
    }
  }
  if (StopRequested()) {
    Say("stopped by signal " + std::to_string(StopSignalNumber()));
    ok = false;
  }
  Say(dialog.isNull() ? "dialog closed" : "dialog open: \"" + dialog->windowTitle().toStdString() + "\"");
  // The worker unregisters from the agent on its way out; its last notices are still printed.
  if (!worker.Stop(10000)) {
    Say("the communication worker did not end");
    ok = false;
  }
  QCoreApplication::sendPostedEvents();
  relay.SetTarget(nullptr);
  SetMessageBoxLayer(nullptr);
  SetHelpLayer(nullptr);
  SetFileDialogLayer(nullptr);
  SetPrintDialogLayer(nullptr);
  delete dialog.data();
  return ok ? 0 : 1;
}
