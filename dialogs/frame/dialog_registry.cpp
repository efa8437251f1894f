#include "dialogs/frame/dialog_registry.h"

#include <map>
#include <mutex>

namespace {

struct Registry {
  std::mutex mutex;
  std::map<QString, DialogFactory> factories;
};

Registry& GetRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

DialogRegistrar::DialogRegistrar(const char* className, DialogFactory factory) {
  Registry& r = GetRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.factories[QString::fromLatin1(className)] = std::move(factory);
}

QDialog* OpenRegisteredDialog(const QString& className, QWidget* parent, const QString& hostName) {
  DialogFactory factory;
  {
    Registry& r = GetRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.factories.find(className);
    if (it == r.factories.end()) return nullptr;
    factory = it->second;
  }
  return factory(parent, hostName);
}

QStringList RegisteredDialogs() {
  Registry& r = GetRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  QStringList names;
  for (const auto& [name, factory] : r.factories) names << name;
  return names;
}
