// The dialogs that keep a subnet list of their own (the network-client dialog, later the
// remote-message dialog and the network-clients page): each owns a discovery object whose
// subnets CDiscoverc edits when that dialog opened it, and each searches again when a
// CDiscoverc ends with OK, which posts the rediscover event to every owner that is open. The
// event is the designed private message WM_USER + 6 (1030); as the frame does for WM_USER + 1,
// it travels as the posted Qt event QEvent::User + 6.
#pragma once

#include <QEvent>
#include <vector>

class KT_Discover;
class QWidget;

inline constexpr QEvent::Type kRediscoverEventType = static_cast<QEvent::Type>(QEvent::User + 6);

class SubnetListOwner {
 public:
  // Registers the owner for its window (the dialog itself).
  explicit SubnetListOwner(QWidget* window);
  virtual ~SubnetListOwner();
  SubnetListOwner(const SubnetListOwner&) = delete;
  SubnetListOwner& operator=(const SubnetListOwner&) = delete;

  // The subnet list CDiscoverc edits.
  virtual KT_Discover& SubnetDiscovery() = 0;
  // The answer to the rediscover event: a new search.
  virtual void Rediscover() = 0;
  // False once the owner's window is closed (it then gets no rediscover event).
  virtual bool OwnerIsOpen() const = 0;

  QWidget* OwnerWindow() const { return window_; }

  // The open owner whose window is `window`; null when none.
  static SubnetListOwner* OwnerOf(QWidget* window);
  // Every open owner, in registration order.
  static std::vector<SubnetListOwner*> OpenOwners();
  // Posts the rediscover event to every open owner; the number posted.
  static int PostRediscoverToAll();

 private:
  QWidget* window_;
};
