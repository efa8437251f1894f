// The desktop agent's message boxes: real Qt message boxes for the agent's box threads.
//
// The agent shows each box from a thread of its own (KT_OSServices::StartMessageBoxThread):
// Show, on that thread, has the user-interface thread open a modeless QMessageBox and waits
// until it is closed, by the user or by Close. Close (WarnAdmin, before the next box) works at
// once from any thread, even for a box the user-interface thread has not opened yet: the
// user-interface thread may itself be the one waiting in WarnAdmin, so nothing here waits for it.
// The agent announces each box before its thread starts (Starting), so a Close that comes
// before the thread's Show closes that box too: its Show then returns at once.
//
// With VIGIL_MESSAGE_LOG set (platform/message_log.h) no box is shown: each is logged and taken
// as answered OK at once.
#pragma once

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "agent/engine/message_boxes.h"

class QMessageBox;

class KT_QtMessageBoxes : public QObject, public KT_MessageBoxes {
  Q_OBJECT

 public:
  // Built on the user-interface thread; the boxes open on the thread the object lives in.
  explicit KT_QtMessageBoxes(QObject* parent = nullptr);
  ~KT_QtMessageBoxes() override;

  void Show(const std::string& text, const std::string& caption, uint32_t flags) override;
  bool Close(const std::string& caption) override;
  // Makes the coming box the current one at once, so that a Close before its Show closes it.
  void Starting(const std::string& caption) override;

  // Closes whatever box is open or waiting (the program's end).
  void CloseAll();
  // The box on the screen now, or null (user-interface thread; tests).
  QMessageBox* OpenBox() const;

 private:
  struct Box {
    std::string text;
    std::string caption;
    uint32_t flags = 0;
    bool closed = false;
    bool claimed = false;  // its thread's Show has taken it
    QPointer<QMessageBox> widget;
  };
  void Open(const std::shared_ptr<Box>& box);
  // Marks the box closed (under the lock) and takes its window off the screen.
  void Finish(const std::shared_ptr<Box>& box);

  std::string log_path_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::shared_ptr<Box> current_;
};
