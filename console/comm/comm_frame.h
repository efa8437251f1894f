// CCommFrame: the communication worker's hidden window, an object that lives on the worker's
// thread (never shown, no widget). The worker creates it when its transport is open and
// deletes it when it ends. Asked by a CommFrameDiscoverEvent (the console's 1028 message), it
// broadcasts a discovery of agents on gDiscover from the worker's thread, which owns that
// channel.
#pragma once

#include <QEvent>
#include <QObject>
#include <atomic>

inline constexpr QEvent::Type kCommFrameDiscoverEventType = static_cast<QEvent::Type>(QEvent::User + 4);

class CommFrameDiscoverEvent : public QEvent {
 public:
  CommFrameDiscoverEvent() : QEvent(kCommFrameDiscoverEventType) {}
};

class CCommFrame : public QObject {
  Q_OBJECT
 public:
  explicit CCommFrame(QObject* parent = nullptr);
  ~CCommFrame() override;

  // "Comm".
  static const char* Title() { return "Comm"; }
  // Discoveries sent so far (for traces and tests).
  int DiscoveriesSent() const { return discoveries_.load(); }

 protected:
  void customEvent(QEvent* e) override;

 private:
  std::atomic<int> discoveries_{0};
};
