// CScpHandler: the consoles' reply handler. For each notice of the communication worker that a
// reply was applied to gScp it acts on that reply's own status, on the user-interface thread
// (ActOnReplyStatus, dialogs/frame/reply_status.h, says what each status does). The texts that
// are not shown in a box (statuses 0, 1, 4 and the unknown ones) go to the trace.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>

struct CommNotice;

class CScpHandler : public QObject {
  Q_OBJECT
 public:
  explicit CScpHandler(QObject* parent = nullptr);

  // The owner of the handler's boxes (the console's main window; none in the call console).
  void SetBoxOwner(QWidget* owner) { box_owner_ = owner; }

  // Handles one reply: its packed key, its own status and the host that answered. Returns the
  // number of dialogs the result was forwarded to.
  int ProcessStatus(uint32_t packedKey, int status, int hostIndex);
  // The same for a worker notice of an applied reply.
  int ProcessNotice(const CommNotice& notice);
  // Queues a GET of (block, branch, item) for the host: key length 1 when branch is 0, else 2
  // when item is 0, else 3. 1 when queued; 0 when the queue mutex is missing; -1 when refused.
  static int RequestAgain(unsigned block, unsigned branch, unsigned item, int hostIndex);

  // The text built for the last notice ("SCP Status: FieldAddress=4,8,1 - Get OK").
  const QString& LastText() const { return last_text_; }

 private:
  QPointer<QWidget> box_owner_;
  QString last_text_;
};
