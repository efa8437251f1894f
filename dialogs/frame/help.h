// Context help: the help files "hpanel.hlp" (one topic per dialog, by the dialog's help
// context id) and "alarm.hlp" (one topic per UPS state and event, see help_topics.h).
//
// Help goes through a layer. The default layer opens one help window of the library that
// shows the topic's title and text; RecordingHelp only records the requests (tests, headless
// tools). The texts are our own: the frame holds the alarm topics and the general topic, and a
// dialog's source unit adds its own dialog topic with a HelpTopicRegistrar at namespace scope:
//
//   static const HelpTopicRegistrar kHelp(kPanelHelpFile, 28, "Manage Diagnostic Test", "...");
//
// A context without a topic of its own shows the general topic of its file.
#pragma once

#include <QString>
#include <mutex>
#include <vector>

class QWidget;

inline constexpr const char* kPanelHelpFile = "hpanel.hlp";
inline constexpr const char* kAlarmHelpFile = "alarm.hlp";
// The command that shows a context topic.
inline constexpr unsigned HELP_CONTEXT = 1;
// The general topic of "alarm.hlp".
inline constexpr int kGeneralHelpTopic = 40;

struct HelpTopic {
  QString title;
  QString text;  // plain text; blank lines separate paragraphs
};

class HelpLayer {
 public:
  virtual ~HelpLayer() = default;
  // Shows the topic `context` of the help file (command HELP_CONTEXT).
  virtual void ShowTopic(QWidget* owner, const QString& file, unsigned command, int context) = 0;
};

// The library's help window.
class HelpWindowLayer : public HelpLayer {
 public:
  void ShowTopic(QWidget* owner, const QString& file, unsigned command, int context) override;
};

// Records the requests; shows nothing. Thread-safe.
class RecordingHelp : public HelpLayer {
 public:
  struct Request {
    QString file;
    unsigned command = 0;
    int context = 0;
  };
  void ShowTopic(QWidget* owner, const QString& file, unsigned command, int context) override;
  std::vector<Request> Requests() const;
  int Count() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
};

HelpLayer& GetHelpLayer();
// Not owned; nullptr restores the help window.
void SetHelpLayer(HelpLayer* layer);

// Help through the layer (what every Help button and F1 call).
void ShowHelpTopic(QWidget* owner, const QString& file, int context);

// Our text of a topic: the registered topic, else the general topic of the file.
HelpTopic FindHelpTopic(const QString& file, int context);
// True when the file has a topic of its own for the context.
bool HasHelpTopic(const QString& file, int context);

class HelpTopicRegistrar {
 public:
  HelpTopicRegistrar(const char* file, int context, const char* title, const char* text);
};
