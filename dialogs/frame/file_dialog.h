// File choosers of the library, through a layer that tests and headless tools replace.
#pragma once

#include <QString>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

class QWidget;

class FileDialogLayer {
 public:
  virtual ~FileDialogLayer() = default;
  // True with the chosen path; false when the user cancelled. `filter` is in Qt's form
  // ("Macro files (*.MAC);;All files (*)").
  virtual bool GetOpenFileName(QWidget* owner, const QString& caption, const QString& directory,
                               const QString& filter, QString& chosen) = 0;
  virtual bool GetSaveFileName(QWidget* owner, const QString& caption, const QString& directory,
                               const QString& filter, QString& chosen) = 0;
};

// Qt's own file dialog.
class QtFileDialogLayer : public FileDialogLayer {
 public:
  bool GetOpenFileName(QWidget* owner, const QString& caption, const QString& directory,
                       const QString& filter, QString& chosen) override;
  bool GetSaveFileName(QWidget* owner, const QString& caption, const QString& directory,
                       const QString& filter, QString& chosen) override;
};

// Answers from a queue (a path, or nullopt for Cancel); with an empty queue it cancels.
class ScriptedFileDialogs : public FileDialogLayer {
 public:
  struct Call {
    bool save = false;
    QString caption;
    QString directory;
    QString filter;
  };
  bool GetOpenFileName(QWidget* owner, const QString& caption, const QString& directory,
                       const QString& filter, QString& chosen) override;
  bool GetSaveFileName(QWidget* owner, const QString& caption, const QString& directory,
                       const QString& filter, QString& chosen) override;
  void QueueAnswer(std::optional<QString> path);
  std::vector<Call> Calls() const;

 private:
  bool Answer(const Call& call, QString& chosen);
  mutable std::mutex mutex_;
  std::deque<std::optional<QString>> answers_;
  std::vector<Call> calls_;
};

FileDialogLayer& GetFileDialogLayer();
// Not owned; nullptr restores Qt's dialog.
void SetFileDialogLayer(FileDialogLayer* layer);
