// ExecWindow: the call console's hidden window "Exec". It owns what the one dialog needs to
// reach its agent: the communication worker (behind ExecWorker, so that tests can let another
// agent answer), the relay that brings the worker's notices to this thread (this window is its
// target and its main window), the reply handler, the mutex "Mutex to lock SCP queue",
// and the host's IPX network number, node and socket from the command line.
//
// Notices: a reply applied to gScp (1025) goes to CScpHandler::ProcessNotice, which forwards it
// to the open dialogs; host-image notices (1026) concern no dialog here and are dropped. Every
// answer to a SET that is not "Set OK" is kept (RefusedChanges), for the program's exit
// status. The handler's boxes have no owner. A critical error of the worker closes this window (through
// the relay), which the application takes as the end.
//
// Built, it sets every dialog pointer of the index table to null. It is never shown.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "console/comm/comm_notice.h"
#include "console/comm/scp_handler.h"
#include "dialogs/frame/scp_queue_mutex.h"

class CCommunication;

// What the window needs of its communication worker.
class ExecWorker {
 public:
  virtual ~ExecWorker() = default;
  // Starts the worker at below-normal priority; returns at once.
  virtual void Start() = 0;
  // Asks it to end and waits at most timeoutMs; true when it has ended (or never ran).
  virtual bool Stop(unsigned long timeoutMs) = 0;
  // Answers to SETs it has taken, each counted before its request leaves gScp's table (a
  // worker that takes none: 0).
  virtual long SetAnswersTaken() const { return 0; }
};

// The consoles' CCommunication as the window's worker.
class CommunicationWorker : public ExecWorker {
 public:
  explicit CommunicationWorker(CommNoticeRelay& relay);
  ~CommunicationWorker() override;
  void Start() override;
  bool Stop(unsigned long timeoutMs) override;
  long SetAnswersTaken() const override;
  CCommunication& Thread() { return *thread_; }

 private:
  std::unique_ptr<CCommunication> thread_;
};

using ExecWorkerFactory = std::function<std::unique_ptr<ExecWorker>(CommNoticeRelay& relay)>;

class ExecWindow : public QWidget {
  Q_OBJECT
 public:
  // A null factory gives the CommunicationWorker.
  explicit ExecWindow(ExecWorkerFactory factory = {});
  ~ExecWindow() override;

  // The host's IPX address from the command line (mode 1 without a host name).
  void SetIpxAddress(uint32_t network, const std::array<uint8_t, 6>& node, uint16_t socket);
  uint32_t IpxNetwork() const { return ipx_network_; }
  const std::array<uint8_t, 6>& IpxNode() const { return ipx_node_; }
  uint16_t IpxSocket() const { return ipx_socket_; }

  // Makes this window the target of the worker's notices.
  void TakeNotices();
  // Creates the SCP mutex and starts the worker without waiting for it. False when the mutex
  // cannot be created (nothing is started then).
  bool StartWorker();
  bool WorkerStarted() const { return worker_ != nullptr; }
  // Stops the worker (waiting at most timeoutMs), then closes the SCP mutex. False when the
  // worker did not end in time: it is then left running, never destroyed, and the program
  // must end without waiting for it.
  bool StopWorker(unsigned long timeoutMs);

  CommNoticeRelay& Relay() { return relay_; }
  CScpHandler& Handler() { return handler_; }
  ExecWorker* Worker() const { return worker_.get(); }
  // Replies handed to the handler so far.
  int NoticesHandled() const { return notices_handled_; }
  // The answers to SETs that the agent did not take (any status but Set OK), in order.
  const std::vector<CommNotice>& RefusedChanges() const { return refused_changes_; }
  // True when the notice of every answer to a SET that the worker took has been handled here.
  bool SetAnswersHandled() const;

 signals:
  // The window was closed (a critical error of the worker).
  void closed();

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  ExecWorkerFactory factory_;
  CommNoticeRelay relay_;
  CScpHandler handler_;
  ScpQueueMutex scp_mutex_;
  std::unique_ptr<ExecWorker> worker_;
  uint32_t ipx_network_ = 0;
  std::array<uint8_t, 6> ipx_node_{};
  uint16_t ipx_socket_ = 0;
  int notices_handled_ = 0;
  long set_answers_handled_ = 0;
  std::vector<CommNotice> refused_changes_;
};
