// The stop signals of the programs over the dialog library (Tavona, Pommet, trem_show): a
// program stops as its own Close or Exit stops it, whatever box or modal dialog is open then.
//
// The signal handler only writes the signal's number to a pipe. The user-interface thread reads
// it in whichever event loop turns, the nested loop of an open box or modal dialog included,
// and there
//   1. answers every open box and modal dialog as its Cancel (No for a box of Yes and No, OK for
//      one with only OK: the answer an unattended box gets, LoggedMessageBoxes::AnswerFor), and
//      from then on every box at once without showing it and every modal dialog as soon as it
//      shows, so that the code that opened it goes on as after that answer and gives way;
//   2. then, from the event queue, runs the program's own stop (close the main window, close
//      the dialog), so that the program ends the way it ends by hand, with the exit status
//      that the answer leads to.
// Only the first signal counts; later ones find the stop under way. A signal that comes before
// Install has its default action.
#pragma once

#include <QObject>
#include <functional>
#include <initializer_list>
#include <vector>

class QSocketNotifier;

class ConsoleStopSignals : public QObject {
  Q_OBJECT

 public:
  using StopHandler = std::function<void(int signal)>;

  explicit ConsoleStopSignals(QObject* parent = nullptr);
  // The signals get their default action back.
  ~ConsoleStopSignals() override;

  // Catches the signals (one object a process); `onStop` is the program's own stop. False when
  // the pipe cannot be made or another object holds the signals.
  bool Install(std::initializer_list<int> watched, StopHandler onStop);
  // The stop as a signal brings it, on the user-interface thread.
  void Stop(int signal);

  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnReadable();

  StopHandler on_stop_;
  bool stopped_ = false;  // this object took the stop
  std::vector<int> signals_;
  int fds_[2] = {-1, -1};
  QSocketNotifier* notifier_ = nullptr;
};

// True once a stop was asked for in this process: the library's boxes are answered without
// being shown.
bool StopRequested();
// The number of the signal that asked for the stop; 0 while none did. Both hold while the
// object that took the stop lives.
int StopSignalNumber();
// True from the moment a stop signal comes until the user-interface thread takes it: a wait on
// that thread gives way to it, so that its event loop can take the stop.
bool StopSignalPending();
