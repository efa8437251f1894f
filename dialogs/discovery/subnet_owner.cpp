#include "dialogs/discovery/subnet_owner.h"

#include <QCoreApplication>
#include <QWidget>
#include <algorithm>

namespace {
std::vector<SubnetListOwner*>& Owners() {
  static std::vector<SubnetListOwner*> owners;
  return owners;
}
}  // namespace

SubnetListOwner::SubnetListOwner(QWidget* window) : window_(window) {
  Owners().push_back(this);
}

SubnetListOwner::~SubnetListOwner() {
  auto& owners = Owners();
  owners.erase(std::remove(owners.begin(), owners.end(), this), owners.end());
}

SubnetListOwner* SubnetListOwner::OwnerOf(QWidget* window) {
  if (window == nullptr) return nullptr;
  for (SubnetListOwner* owner : Owners())
    if (owner->window_ == window && owner->OwnerIsOpen()) return owner;
  return nullptr;
}

std::vector<SubnetListOwner*> SubnetListOwner::OpenOwners() {
  std::vector<SubnetListOwner*> open;
  for (SubnetListOwner* owner : Owners())
    if (owner->OwnerIsOpen()) open.push_back(owner);
  return open;
}

int SubnetListOwner::PostRediscoverToAll() {
  int posted = 0;
  for (SubnetListOwner* owner : OpenOwners()) {
    QCoreApplication::postEvent(owner->window_, new QEvent(kRediscoverEventType));
    ++posted;
  }
  return posted;
}
