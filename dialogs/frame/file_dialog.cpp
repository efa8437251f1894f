#include "dialogs/frame/file_dialog.h"

#include <QFileDialog>
#include <atomic>

namespace {
std::atomic<FileDialogLayer*> g_layer{nullptr};
}

bool QtFileDialogLayer::GetOpenFileName(QWidget* owner, const QString& caption, const QString& directory,
                                        const QString& filter, QString& chosen) {
  const QString path = QFileDialog::getOpenFileName(owner, caption, directory, filter);
  if (path.isEmpty()) return false;
  chosen = path;
  return true;
}

bool QtFileDialogLayer::GetSaveFileName(QWidget* owner, const QString& caption, const QString& directory,
                                        const QString& filter, QString& chosen) {
  const QString path = QFileDialog::getSaveFileName(owner, caption, directory, filter);
  if (path.isEmpty()) return false;
  chosen = path;
  return true;
}

bool ScriptedFileDialogs::Answer(const Call& call, QString& chosen) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back(call);
  if (answers_.empty()) return false;
  std::optional<QString> answer = answers_.front();
  answers_.pop_front();
  if (!answer) return false;
  chosen = *answer;
  return true;
}

bool ScriptedFileDialogs::GetOpenFileName(QWidget*, const QString& caption, const QString& directory,
                                          const QString& filter, QString& chosen) {
  return Answer(Call{false, caption, directory, filter}, chosen);
}

bool ScriptedFileDialogs::GetSaveFileName(QWidget*, const QString& caption, const QString& directory,
                                          const QString& filter, QString& chosen) {
  return Answer(Call{true, caption, directory, filter}, chosen);
}

void ScriptedFileDialogs::QueueAnswer(std::optional<QString> path) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.push_back(std::move(path));
}

std::vector<ScriptedFileDialogs::Call> ScriptedFileDialogs::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

FileDialogLayer& GetFileDialogLayer() {
  static QtFileDialogLayer qtLayer;
  FileDialogLayer* layer = g_layer.load();
  return layer != nullptr ? *layer : qtLayer;
}

void SetFileDialogLayer(FileDialogLayer* layer) {
  g_layer.store(layer);
}
