#include "dialogs/frame/help.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <atomic>
#include <map>
#include <utility>

#include "dialogs/frame/control_ids.h"

namespace {

std::atomic<HelpLayer*> g_layer{nullptr};

struct Topics {
  std::mutex mutex;
  std::map<std::pair<QString, int>, HelpTopic> topics;
};

QString FileKey(const QString& file) {
  return QFileInfo(file).fileName().toLower();
}

void AddTopic(Topics& t, const char* file, int context, const char* title, const char* text) {
  t.topics.emplace(std::make_pair(FileKey(QString::fromUtf8(file)), context),
                   HelpTopic{QString::fromUtf8(title), QString::fromUtf8(text)});
}

// One topic of a help file: its context id, title and text.
struct TopicText {
  int context;
  const char* title;
  const char* text;
};

// Our own texts of the alarm help file, one per topic.
const TopicText kAlarmTopics[] = {
    {2, "Bad Battery Detected",
     "The UPS has found that its batteries can no longer hold a proper charge.\n\n"
     "The load is still protected while utility power is present, but the time the UPS can "
     "run on battery may be much shorter than expected. Have the batteries checked and "
     "replaced by qualified service personnel."},
    {3, "UPS On Battery",
     "Utility power has failed or is outside the UPS's input tolerance, and the UPS now runs "
     "the load from its batteries.\n\n"
     "Save your work. If power does not return, the agent shuts the computer down in good "
     "order as configured in the shutdown parameters."},
    {4, "Low Battery",
     "The UPS is on battery and the remaining battery time has fallen to the low battery "
     "warning level.\n\nThe agent starts the shutdown sequence when it is configured to do so "
     "on low battery. Save your work now."},
    {5, "UPS Component Failed",
     "The UPS reports a failure of one of its components.\n\nThe load may no longer be "
     "protected. Check the UPS's own display and call for service."},
    {6, "Input Out Of Tolerance",
     "The voltage or frequency of the utility input is outside the range the UPS accepts.\n\n"
     "The UPS may switch to battery to protect the load. Have the supply checked if this "
     "happens often."},
    {7, "Overload",
     "The load connected to the UPS is more than it is rated for.\n\nRemove non-essential "
     "equipment from the UPS outputs; a lasting overload may make the UPS switch to bypass "
     "or turn its output off."},
    {8, "Bypass",
     "The UPS has switched the load to its bypass: the load runs directly from utility power "
     "and is not protected against a power failure."},
    {9, "Communication Lost",
     "Communication has been lost: either between the agent and its UPS (check the serial "
     "cable or the network adapter) or between the console and the agent (check that the "
     "agent runs and that the network between the two computers works)."},
    {10, "Software Error",
     "The agent has met an internal error. Look at the agent's trace and error log; "
     "restarting the agent usually clears the condition."},
    {11, "Diagnostic Test In Progress",
     "The UPS is running its diagnostic (battery) test. The load stays protected; the "
     "result is shown in the battery test results when the test is over."},
    {12, "Utility Over Voltage - Buck",
     "The utility voltage is high; the UPS lowers it (buck) so that the load keeps its "
     "nominal voltage without using the batteries."},
    {13, "Utility Under Voltage - Boost",
     "The utility voltage is low; the UPS raises it (boost) so that the load keeps its "
     "nominal voltage without using the batteries."},
    {14, "Bad Battery Alarm Cleared", "The UPS no longer reports a bad battery."},
    {15, "Utility Power Restored",
     "Utility power has returned and the UPS runs the load from it again. The batteries "
     "are being recharged."},
    {16, "Low Battery Alarm Cleared", "The battery charge is above the low battery level again."},
    {17, "UPS Component Failure Alarm Cleared", "The UPS no longer reports a failed component."},
    {18, "Input Parameters Returned To Normal", "The utility input is within the UPS's tolerance again."},
    {19, "Overload Alarm Cleared", "The load is within the UPS's rating again."},
    {20, "UPS Returned From Bypass", "The UPS protects the load again; the bypass is no longer in use."},
    {21, "Communication Re-established",
     "Communication between the agent and its UPS, or between the console and the agent, "
     "works again."},
    {22, "Software Error Cleared", "The agent's internal error condition has cleared."},
    {23, "Program Started", "The agent has started and monitors its UPS."},
    {24, "Program Terminated",
     "The agent has stopped. While it is stopped the computer is not shut down when power fails."},
    {25, "Remote Configuration Change", "A console has changed the agent's configuration over the network."},
    {26, "Scheduled Shutdown",
     "A scheduled shutdown is due: the agent shuts the computer down at the scheduled time "
     "and restarts the UPS as the schedule says."},
    {28, "Shutdown Due To Power Failure",
     "The power failure has lasted too long, or the battery is low: the agent is shutting "
     "the computer down in good order."},
    {29, "Remote Shutdown",
     "A master agent has told this computer to shut down because of a power problem at the "
     "master's UPS."},
    {30, "Diagnostic Test Completed",
     "The UPS has finished its diagnostic test. See the battery test results."},
    {31, "Clear Utility Over Voltage - Buck",
     "The utility voltage is normal again; the UPS no longer bucks."},
    {32, "Clear Utility Under Voltage - Boost",
     "The utility voltage is normal again; the UPS no longer boosts."},
    {33, "UPS Configuration",
     "No UPS is configured for this agent, or the agent has just discovered its UPS. Use "
     "the serial device configuration to choose the port and UPS type."},
    {34, "UPS Discovery In Progress",
     "The agent is finding out which UPS is connected and how to talk to it."},
    {39, "Idle and Client Mode",
     "The agent is idle, or runs as a client of a master agent that watches the UPS and "
     "tells this computer when to shut down."},
    {kGeneralHelpTopic, "UPS Alarms and Events",
     "This help describes the UPS states and the events that the agent records in its "
     "event log. Double-click an event or a state to read about it."},
};

// The general topic of the panel help file; the dialogs add their own topics.
const TopicText kPanelGeneralTopic = {
    0, "Tremona Help",
    "Each dialog of the console has a help topic of its own; press F1 or the Help button "
    "in a dialog to read it."};

Topics& GetTopics() {
  static Topics topics;
  static const bool filled = [] {
    for (const TopicText& a : kAlarmTopics) AddTopic(topics, kAlarmHelpFile, a.context, a.title, a.text);
    AddTopic(topics, kPanelHelpFile, kPanelGeneralTopic.context, kPanelGeneralTopic.title,
             kPanelGeneralTopic.text);
    return true;
  }();
  (void)filled;
  return topics;
}

// The one help window of the library.
QPointer<QDialog> g_window;

}  // namespace

HelpTopicRegistrar::HelpTopicRegistrar(const char* file, int context, const char* title, const char* text) {
  Topics& t = GetTopics();
  std::lock_guard<std::mutex> lock(t.mutex);
  AddTopic(t, file, context, title, text);
}

bool HasHelpTopic(const QString& file, int context) {
  Topics& t = GetTopics();
  std::lock_guard<std::mutex> lock(t.mutex);
  return t.topics.count({FileKey(file), context}) != 0;
}

HelpTopic FindHelpTopic(const QString& file, int context) {
  Topics& t = GetTopics();
  std::lock_guard<std::mutex> lock(t.mutex);
  const QString key = FileKey(file);
  auto it = t.topics.find({key, context});
  if (it != t.topics.end()) return it->second;
  it = t.topics.find({key, key == FileKey(kAlarmHelpFile) ? kGeneralHelpTopic : 0});
  if (it != t.topics.end()) return it->second;
  return HelpTopic{QStringLiteral("Help"), QStringLiteral("No help is available for this topic.")};
}

void HelpWindowLayer::ShowTopic(QWidget* owner, const QString& file, unsigned, int context) {
  const HelpTopic topic = FindHelpTopic(file, context);
  if (g_window.isNull()) {
    // The window belongs to no dialog, so it outlives the one that opened it.
    (void)owner;
    auto* w = new QDialog(nullptr, Qt::Window);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setObjectName(QStringLiteral("TremHelpWindow"));
    auto* layout = new QVBoxLayout(w);
    auto* title = new QLabel(w);
    title->setObjectName(QStringLiteral("helpTitle"));
    QFont f = title->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.3);
    title->setFont(f);
    auto* text = new QTextBrowser(w);
    text->setObjectName(QStringLiteral("helpText"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, w);
    QObject::connect(buttons, &QDialogButtonBox::rejected, w, &QDialog::close);
    layout->addWidget(title);
    layout->addWidget(text, 1);
    layout->addWidget(buttons);
    w->resize(460, 320);
    g_window = w;
  }
  QDialog* w = g_window.data();
  // The caption names the topic, as a help viewer does, not the help file behind it.
  const QString viewer = QString::fromLatin1(kPanelGeneralTopic.title);
  w->setWindowTitle(topic.title == viewer ? viewer : QStringLiteral("%1 - %2").arg(topic.title, viewer));
  w->findChild<QLabel*>(QStringLiteral("helpTitle"))->setText(topic.title);
  w->findChild<QTextBrowser*>(QStringLiteral("helpText"))->setPlainText(topic.text);
  w->show();
  w->raise();
  w->activateWindow();
}

void RecordingHelp::ShowTopic(QWidget*, const QString& file, unsigned command, int context) {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(Request{file, command, context});
}

std::vector<RecordingHelp::Request> RecordingHelp::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int RecordingHelp::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(requests_.size());
}

void RecordingHelp::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

HelpLayer& GetHelpLayer() {
  static HelpWindowLayer window;
  HelpLayer* layer = g_layer.load();
  return layer != nullptr ? *layer : window;
}

void SetHelpLayer(HelpLayer* layer) {
  g_layer.store(layer);
}

void ShowHelpTopic(QWidget* owner, const QString& file, int context) {
  GetHelpLayer().ShowTopic(owner, file, HELP_CONTEXT, context);
}
